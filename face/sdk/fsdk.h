#pragma once
// The station's face engine: the call set the station was written against (detection, eyes,
// templates, matching), running pretrained networks on OpenCV's dnn module.
//
// Every call returns 0 (FSDKE_OK) on success and a negative FSDKE_* code otherwise.
//
// Threads: the image table is guarded by a mutex and each network by a lock of its own, so every
// call may be made from any thread; calls that run the same network queue behind each other.
// Detection settings (parameters and threshold) are process-wide values, read once per call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavo {

// Result codes.
enum : int {
  FSDKE_OK = 0,
  FSDKE_FAILED = -1,               // an unexpected internal error
  FSDKE_NOT_INITIALIZED = -2,      // the networks are not loaded: FSDK_Initialize first
  FSDKE_INVALID_ARGUMENT = -3,     // a null pointer, a bad ratio, a bad face position
  FSDKE_INVALID_HANDLE = -4,       // no image with that handle
  FSDKE_IO_ERROR = -5,             // the file is missing or cannot be read
  FSDKE_BAD_FILE_FORMAT = -6,      // the file is not a picture that can be decoded
  FSDKE_EMPTY_IMAGE = -7,          // an image without pixels (say, a fresh FSDK_CreateEmptyImage)
  FSDKE_FACE_NOT_FOUND = -8,       // no face above the detection threshold
  FSDKE_EYES_NOT_FOUND = -9,       // landmarks found, but not a plausible pair of eyes
  FSDKE_TEMPLATE_MISMATCH = -10,   // a template of another format version or descriptor size
  FSDKE_NETWORKS_MISSING = -11,    // network files missing, unreadable or of the wrong size
  FSDKE_OUT_OF_MEMORY = -12,
};

using HImage = int;  // handle into the engine's image table; 0 is never a valid handle

struct TFacePosition {
  int32_t xc = 0;  // face centre, pixels
  int32_t yc = 0;
  int32_t w = 0;   // side of the square face box, pixels
  int32_t padding = 0;
  double angle = 0;  // in-plane rotation of the eye line, degrees (positive: clockwise on screen)
};

struct TPoint {
  int32_t x = 0;
  int32_t y = 0;
};

constexpr int FSDK_FACIAL_FEATURE_COUNT = 70;
// Points 0..67 are the usual 68 face landmarks (36..41 the eye on the image's left, 42..47 the
// other eye, 48..67 the mouth); 68 and 69 are the centres of the left and right eye in the image.
constexpr int FSDKP_LEFT_EYE_CENTER = 68;
constexpr int FSDKP_RIGHT_EYE_CENTER = 69;

struct FSDK_Features {
  TPoint points[FSDK_FACIAL_FEATURE_COUNT];
  TPoint& operator[](int i) { return points[i]; }
  const TPoint& operator[](int i) const { return points[i]; }
};

constexpr int FSDK_FACE_TEMPLATE_SIZE = 13324;
struct alignas(4) FSDK_FaceTemplate {
  char ftemplate[FSDK_FACE_TEMPLATE_SIZE];
};
static_assert(sizeof(FSDK_FaceTemplate) == 13324);
static_assert(sizeof(FSDK_Features) == 70 * 8);

// Folder (host path) holding the network files (*.bin and *-weights_manifest.json). Must be
// called before FSDK_Initialize; without it $TAVO_NETS is used.
int FSDK_SetNetworksFolder(const char* dir);

// Loads the networks once per process and warms them up; later calls return at once. The key is
// ignored (pass "").
int FSDK_Initialize(const char* licenseKey);

// Images. The path is UTF-8 in the station's own form ("C:\Face\..." or a host path): it goes
// through tavo::hostPath(). Pictures are kept as 8-bit BGR.
int FSDK_LoadImageFromFile(HImage* image, const char* fileName);
int FSDK_GetImageWidth(HImage image, int* width);
int FSDK_GetImageHeight(HImage image, int* height);
int FSDK_CreateEmptyImage(HImage* image);
int FSDK_ResizeImage(HImage source, double ratio, HImage target);  // target := source * ratio
int FSDK_CopyImage(HImage source, HImage target);
int FSDK_FreeImage(HImage image);

// Detection settings, process-wide. internalResizeWidth is the input size of the tiny detector
// (rounded to a multiple of 32 in 128..1024; the SSD detector in use always works at 512); the two
// flags are accepted and ignored (rotation is handled by the landmark alignment). The threshold is 1 (finds the most, also doubtful faces) .. 5 (only
// clear faces); 3 is the default; values outside are clamped. See docs/accuracy.md for the scores.
int FSDK_SetFaceDetectionParameters(bool handleArbitraryRotations, bool determineFaceRotationAngle,
                                    int internalResizeWidth);
int FSDK_SetFaceDetectionThreshold(int threshold);

// Detection: the largest face above the threshold.
int FSDK_DetectFace(HImage image, TFacePosition* facePosition);
// 68 landmarks and the two eye centres of the face at facePosition; FSDKE_EYES_NOT_FOUND (with
// the points filled) when they do not form a plausible face.
int FSDK_DetectEyesInRegion(HImage image, const TFacePosition* facePosition,
                            FSDK_Features* facialFeatures);
// Template of the face at facePosition: landmarks, alignment, 128-d descriptor.
int FSDK_GetFaceTemplateInRegion(HImage image, const TFacePosition* facePosition,
                                 FSDK_FaceTemplate* faceTemplate);

// Matching. A similarity passes a threshold when it is equal to it or greater.
int FSDK_GetMatchingThresholdAtFAR(float farValue, float* threshold);  // 1.0 (or more) gives 0
int FSDK_MatchFaces(const FSDK_FaceTemplate* template1, const FSDK_FaceTemplate* template2,
                    float* similarity);  // 0..1; FSDKE_TEMPLATE_MISMATCH (and 0) on a foreign template

namespace fsdk {

// Readable text of a result code, for messages and logs.
const char* errorText(int code);

constexpr int kDescriptorSize = 512;
using Descriptor = std::array<float, kDescriptorSize>;

// Template layout: 16-byte header (magic "TVFT", uint32 layout version, uint32 descriptor length,
// uint32 engine version), the descriptor as float32, zero padding to 13324 bytes.
constexpr uint32_t kTemplateVersion = 2;
// Version of the whole pipeline that makes a template (detector, face square, alignment,
// descriptor network; the match scale is applied when comparing, so it is not part of it).
// Templates of another engine version are never compared (FSDKE_TEMPLATE_MISMATCH) and stored
// ones never reused.
constexpr uint32_t kEngineVersion = 4;
std::optional<Descriptor> descriptorOf(const FSDK_FaceTemplate& faceTemplate);
FSDK_FaceTemplate templateOf(const Descriptor& descriptor);

// Squared Euclidean distance of two descriptors.
float squaredDistance(const float* a, const float* b);

// The match scale. Descriptors are measured from a centre, the mean of the population they are
// compared in (the station's template base, shrunk toward a prior mean of many populations while
// the base holds few people): the score of two descriptors is the cosine of their differences from
// the centre (the raw cosine when the calibration's prior is zero and it does not centre on the
// base). What a score means moves with the camera, the light and the people, so a base also moves
// its minimum by `shift` (see ownMinimumShift).
struct Centre {
  Descriptor mean{};
  float norm2 = 0;  // |mean|^2
  float shift = 0;  // added to every knot of the scale but the top one (1 stays 1)
};
// The prior centre (no base, or FSDK_MatchFaces, which knows no base).
const Centre& priorCentre();
// The centre of a base of `people` people whose descriptors have the mean `baseMean`: the mean
// shrunk toward the prior, weight people / (people + shrink).
extern const int kShrinkPeople;
// Whether a base measures its scores from its own centre (the calibration says; otherwise the
// prior, which the raw-cosine calibration sets to zero, so scores are plain cosines).
extern const bool kCentreOnBase;
Centre centreOf(const double* baseMean, std::size_t people, const Centre& prior = priorCentre(),
                int shrink = kShrinkPeople);
// The score of two unit descriptors measured from a centre, -1..1 (NaN for a NaN descriptor).
float centredScore(const float* a, const float* b, const Centre& centre);
// Calibrated mapping from the score to the similarity 0..1 (increasing; 1 at score 1) and back,
// on the fixed table or on a base's table moved by `shift`.
float similarityOfScore(float score);
float similarityOfScore(float score, float shift);
float scoreOfSimilarity(float similarity);

// The base's own strangers: for each model (or a fixed sample of them), its best score against
// the models of the other people, what a stranger who resembles him would score. Their mean and
// spread say how alike the people of this base look to this camera.
struct OwnStrangers {
  double mean = 0, spread = 0;
  std::size_t people = 0;  // barcodes in the base
};
// Whether the calibration moves a base's minimum by its own strangers, by how many spreads above
// their mean, and the least score it goes to.
extern const bool kOwnStrangerMinimum;
extern const float kOwnMarginSpreads, kOwnFloorScore;
// How far a base's minimum moves from the fixed one: to kOwnMargin spreads above its strangers'
// mean, trusted for people / (people + kShrinkPeople) (the fixed minimum for the rest), never
// under the floor where one different-person pair in a thousand passes on every development set
// nor above the fixed 0.90 knot. A base of one person has no strangers of its own: 0.
float ownMinimumShift(const OwnStrangers& own);
// A raw cosine this high between two labels is one photo under both: it says nothing of how alike
// two people look.
constexpr float kSamePhotoScore = 0.99f;
// Raw cosines of the probe to each of `count` descriptors.
void rawScores(const float* probe, const float* base, std::size_t count, float* out);

// 1:N scan over `count` descriptors stored contiguously (count * kDescriptorSize floats),
// measured from `centre`: the first index with the greatest similarity at or above minSimilarity,
// or -1 if none.
struct ScanResult {
  long index = -1;
  float similarity = 0;
};
ScanResult findBest(const float* probe, const float* base, std::size_t count, float minSimilarity,
                    const Centre& centre = priorCentre());
// Similarity of the probe to each of `count` descriptors (out has count entries).
void similarities(const float* probe, const float* base, std::size_t count, float* out,
                  const Centre& centre = priorCentre());

}  // namespace fsdk
}  // namespace tavo
