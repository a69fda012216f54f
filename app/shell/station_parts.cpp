#include "app/shell/station_parts.h"

#include <QString>
#include <stdexcept>

#include "analysis/crop_bounds.h"
#include "base/ini_file.h"
#include "app/station_app.h"
#include "checkin/camera_liveness.h"
#include "checkin/checkin_run.h"
#include "checkin/enrolment_request.h"
#include "checkin/flag_poll.h"
#include "checkin/photo_series.h"
#include "data/data_store.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "face/picture/frame_grab.h"
#include "models/model_import.h"
#include "models/model_records.h"

namespace tavo {

StationParts::StationParts(StationApp& app) : app_(app) {
  Station& station = app.station();
  data_ = std::make_unique<DataStore>(station);
  cameras_ = std::make_unique<Cameras>(station);
  cropper_ = std::make_unique<FaceCropper>(station, &cameras_->webCamera());
  faceBase_ = std::make_unique<FaceBase>(station, *data_);
  checkIn_ = std::make_unique<CheckInRun>(station, *data_, *cameras_, *cropper_);
  checkIn_->useTemplateBase(*faceBase_);
  series_ = std::make_unique<PhotoSeries>(station, *cameras_, *cropper_);
  enrolment_ = std::make_unique<EnrolmentRequest>(station, *data_);
  enrolment_->useTemplateBase(*faceBase_);
  poll_ = std::make_unique<FlagPoll>(station, app.timer1());
  cameraLiveness_ = std::make_unique<CameraLiveness>(station);
  app.setParts(this);
  wire();
}

StationParts::~StationParts() {
  app_.setParts(nullptr);
  app_.shutdown();  // the camera is released before the parts go
}

void StationParts::attachModelEditor(ModelEditorDialog& editor) {
  modelRecords_ = std::make_unique<ModelRecords>(app_.station(), *data_, *cropper_, editor, cameras_.get());
}

void StationParts::wire() {
  Station& station = app_.station();
  StartUpSteps& steps = app_.steps;

  app_.openDataStore = [this] { data_->open(); };

  // The web camera is opened before the settings are read: its one setting (WebCam) is taken
  // straight from "tavo.ini".
  steps.openWebCamera = [this, &station] {
    const IniFile ini = IniFile::load(station.settings.programPath + QStringLiteral("tavo.ini"));
    cameras_->webCamera().open(ini.readString(QStringLiteral("param"), QStringLiteral("WebCam"), QStringLiteral("0")));
  };
  steps.showWorkLogFrom = [this](const QDate& today) {
    if (!data_->isOpen()) return;
    WorkFilter filter;
    filter.fromDate = today;
    data_->applyWorkFilter(filter);
  };
  steps.startVideoView = [this] { cameras_->startStream(); };
  steps.importModels = [this, &station] { LoadFromOffice(station, *data_); };
  steps.reopenModelTable = [this] {
    if (!data_->isOpen()) throw std::runtime_error("База данных не открыта: таблица моделей недоступна");
    data_->tableModel().refresh();
  };
  steps.buildTemplateBase = [this] {
    faceBase_->Button19Click();
    cameraLiveness_->reportAtStartUp();  // the station is ready: now a box may say so
  };
  wireAntiSpoof();

  app_.loadCascades = [this] { cropper_->loadCascades(); };
  app_.releaseCamera = [this] { cameras_->release(); };
  app_.cropBounds = [this, &station] {
    if (data_->isOpen()) Button9Click(station, *data_);
  };

  poll_->onCheckIn = [this] { checkIn_->FaceDetectionLuxandRTSP(true); };
  poll_->onNewPhoto = [this] { series_->GetNewPhoto(); };
  poll_->onUserRequest = [this](const QStringList& lines) { enrolment_->handle(lines); };
  poll_->checkInBusy = [this] { return checkIn_->running(); };
  // A station whose start-up did not end well (another station's folders, an unusable database)
  // is not ready: requests stay for one that is. During the start-up they wait in the poll.
  poll_->serving = [this, &station] { return station.startUpInProgress || app_.startUpSucceeded(); };
  app_.poll = [this] { poll_->Timer1Timer(); };
}

void StationParts::wireAntiSpoof() {
  Station& station = app_.station();
  StartUpSteps& steps = app_.steps;
  // AntiSpoof=1 without its network is refused once here, not by every check-in.
  steps.readSettings = [read = steps.readSettings, &station] {
    if (read) read();
    refuseAntiSpoofWithoutNetwork(station);
  };
  // The camera's own live captures: every picture of a photo series, and the attempts of a
  // check-in that ended confirmed (the sound of kind 1 is played exactly then).
  series_->detectFace = [this, detect = series_->detectFace] {
    const PhotoResult found = detect();
    cameraLiveness_->seriesPicture(found);
    return found;
  };
  checkIn_->judgeSpoof = [this, judge = checkIn_->judgeSpoof](const PhotoResult& face) {
    const SpoofVerdict v = judge(face);
    cameraLiveness_->attemptJudged(v);
    return v;
  };
  checkIn_->playSound = [this, play = checkIn_->playSound](std::uint8_t kind) {
    cameraLiveness_->checkInEnded(kind == 1);
    play(kind);
  };
}

}  // namespace tavo
