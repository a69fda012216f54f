#pragma once
#include <memory>

namespace tavo {

class CameraLiveness;
class Cameras;
class CheckInRun;
class DataStore;
class EnrolmentRequest;
class FaceBase;
class FaceCropper;
class FlagPoll;
class ModelEditorDialog;
class ModelRecords;
class PhotoSeries;
class StationApp;

// Puts the station together: creates the parts (data store, cameras, face cropper, template
// base, check-in run, photo series, enrolment, the office-system poll) and wires them into the
// start-up steps and timers of the StationApp. The windows reach the parts through here.
class StationParts {
 public:
  explicit StationParts(StationApp& app);
  ~StationParts();

  DataStore& data() { return *data_; }
  Cameras& cameras() { return *cameras_; }
  FaceCropper& cropper() { return *cropper_; }
  FaceBase& faceBase() { return *faceBase_; }
  CheckInRun& checkIn() { return *checkIn_; }
  PhotoSeries& photoSeries() { return *series_; }
  EnrolmentRequest& enrolment() { return *enrolment_; }
  FlagPoll& poll() { return *poll_; }

  // The model operations need the editor window; there is none headless (null then).
  void attachModelEditor(ModelEditorDialog& editor);
  ModelRecords* modelRecords() { return modelRecords_.get(); }

 private:
  void wire();
  void wireAntiSpoof();  // the start-up check of AntiSpoof and the camera's own check

  StationApp& app_;
  std::unique_ptr<DataStore> data_;
  std::unique_ptr<Cameras> cameras_;
  std::unique_ptr<FaceCropper> cropper_;
  std::unique_ptr<FaceBase> faceBase_;
  std::unique_ptr<CheckInRun> checkIn_;
  std::unique_ptr<PhotoSeries> series_;
  std::unique_ptr<EnrolmentRequest> enrolment_;
  std::unique_ptr<FlagPoll> poll_;
  std::unique_ptr<ModelRecords> modelRecords_;
  std::unique_ptr<CameraLiveness> cameraLiveness_;
};

}  // namespace tavo
