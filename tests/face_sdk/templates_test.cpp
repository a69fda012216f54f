// Templates, the similarity scale, thresholds and the 1:N scan: no networks needed.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "face/sdk/fsdk.h"
#include "face/sdk/weights.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

fsdk::Descriptor randomDescriptor(unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> n(0.f, 0.12f);
  fsdk::Descriptor d;
  for (float& v : d) v = n(gen);
  return d;
}

}  // namespace

TEST(FaceTemplate, LayoutIsVersionedAndPaddedWithZeros) {
  const fsdk::Descriptor d = randomDescriptor(1);
  const FSDK_FaceTemplate t = fsdk::templateOf(d);
  EXPECT_EQ(sizeof t, 13324u);
  EXPECT_EQ(std::memcmp(t.ftemplate, "TVFT", 4), 0);
  for (std::size_t i = 16 + 4 * fsdk::kDescriptorSize; i < sizeof t; ++i) ASSERT_EQ(t.ftemplate[i], 0) << i;
  const auto back = fsdk::descriptorOf(t);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, d);

  float similarity = -1;
  EXPECT_EQ(FSDK_MatchFaces(&t, &t, &similarity), FSDKE_OK);
  EXPECT_FLOAT_EQ(similarity, 1.f);
}

TEST(FaceTemplate, ForeignTemplatesNeverMatchSilently) {
  const FSDK_FaceTemplate good = fsdk::templateOf(randomDescriptor(2));
  FSDK_FaceTemplate otherVersion = good, otherLength = good, otherEngine = good, zeros{}, nanValues = good;
  const uint32_t older = fsdk::kTemplateVersion - 1, length = 128, olderEngine = fsdk::kEngineVersion - 1;
  std::memcpy(otherVersion.ftemplate + 4, &older, 4);
  std::memcpy(otherLength.ftemplate + 8, &length, 4);
  std::memcpy(otherEngine.ftemplate + 12, &olderEngine, 4);
  const float nan = NAN;
  std::memcpy(nanValues.ftemplate + 16, &nan, 4);
  for (const FSDK_FaceTemplate* bad : {&otherVersion, &otherLength, &otherEngine, &zeros, &nanValues}) {
    float similarity = -1;
    EXPECT_EQ(FSDK_MatchFaces(&good, bad, &similarity), FSDKE_TEMPLATE_MISMATCH);
    EXPECT_EQ(similarity, 0.f);
    similarity = -1;
    EXPECT_EQ(FSDK_MatchFaces(bad, &good, &similarity), FSDKE_TEMPLATE_MISMATCH);
    EXPECT_EQ(similarity, 0.f);
  }
  float similarity = -1;
  EXPECT_EQ(FSDK_MatchFaces(nullptr, &good, &similarity), FSDKE_INVALID_ARGUMENT);
  EXPECT_EQ(similarity, 0.f);
  EXPECT_EQ(FSDK_MatchFaces(&good, &good, nullptr), FSDKE_INVALID_ARGUMENT);
}

TEST(Similarity, RisesWithTheScoreAndInvertsOnItsRange) {
  EXPECT_FLOAT_EQ(fsdk::similarityOfScore(1), 1.f);
  EXPECT_FLOAT_EQ(fsdk::similarityOfScore(-1), 0.f);
  EXPECT_FLOAT_EQ(fsdk::similarityOfScore(NAN), 0.f);
  const float zero = fsdk::scoreOfSimilarity(0);
  float previous = 0.f;
  for (float c = zero + 0.01f; c < 1.f; c += 0.01f) {
    const float s = fsdk::similarityOfScore(c);
    ASSERT_GT(s, previous) << c;
    ASSERT_NEAR(fsdk::scoreOfSimilarity(s), c, 1e-4) << c;
    previous = s;
  }
  // The same descriptor scores 1 from any centre; its opposite scores nothing.
  const fsdk::Descriptor d = randomDescriptor(3);
  fsdk::Descriptor opposite = d;
  for (float& v : opposite) v = -v;
  EXPECT_NEAR(fsdk::centredScore(d.data(), d.data(), fsdk::priorCentre()), 1.f, 1e-5);
  EXPECT_EQ(fsdk::similarityOfScore(fsdk::centredScore(d.data(), opposite.data(), fsdk::Centre{})), 0.f);
}

TEST(Similarity, ThresholdAtFarComesFromTheTable) {
  float t = -1;
  EXPECT_EQ(FSDK_GetMatchingThresholdAtFAR(1.0f, &t), FSDKE_OK);
  EXPECT_EQ(t, 0.f);  // the station's FARValue 100: every record passes
  float strict = 0, loose = 0, stricter = 0;
  ASSERT_EQ(FSDK_GetMatchingThresholdAtFAR(1e-3f, &strict), FSDKE_OK);
  ASSERT_EQ(FSDK_GetMatchingThresholdAtFAR(1e-2f, &loose), FSDKE_OK);
  ASSERT_EQ(FSDK_GetMatchingThresholdAtFAR(1e-6f, &stricter), FSDKE_OK);
  // One false accept in a thousand sits under the check-in minimum (0.75), which the strangers'
  // rule holds stricter.
  EXPECT_NEAR(strict, 0.72f, 0.02f);
  EXPECT_LT(strict, 0.75f);
  EXPECT_LT(loose, strict);
  EXPECT_GE(stricter, strict);
  float half = 0;
  ASSERT_EQ(FSDK_GetMatchingThresholdAtFAR(0.5f, &half), FSDKE_OK);
  EXPECT_GT(half, 0.f);
  EXPECT_LT(half, loose);
  EXPECT_EQ(FSDK_GetMatchingThresholdAtFAR(0.f, &t), FSDKE_INVALID_ARGUMENT);
  EXPECT_EQ(FSDK_GetMatchingThresholdAtFAR(0.1f, nullptr), FSDKE_INVALID_ARGUMENT);
}

TEST(Scan, FindsTheClosestAndLeavesTiesToTheFirst) {
  std::vector<float> base;
  const fsdk::Descriptor probe = randomDescriptor(10);
  std::vector<fsdk::Descriptor> records;
  for (unsigned i = 0; i < 50; ++i) records.push_back(randomDescriptor(100 + i));
  fsdk::Descriptor near = probe;
  near[0] += 0.05f;
  records[17] = near;
  records[33] = near;  // equally similar, later: must not take the lead
  for (const auto& r : records) base.insert(base.end(), r.begin(), r.end());

  const fsdk::ScanResult best = fsdk::findBest(probe.data(), base.data(), records.size(), 0.f);
  EXPECT_EQ(best.index, 17);
  float expected = 0;
  const FSDK_FaceTemplate a = fsdk::templateOf(probe), b = fsdk::templateOf(near);
  FSDK_MatchFaces(&a, &b, &expected);
  EXPECT_FLOAT_EQ(best.similarity, expected);

  std::vector<float> all(records.size());
  fsdk::similarities(probe.data(), base.data(), records.size(), all.data());
  EXPECT_FLOAT_EQ(all[17], expected);

  // Above every similarity: nothing.
  EXPECT_EQ(fsdk::findBest(probe.data(), base.data(), records.size(), expected + 0.01f).index, -1);
  EXPECT_EQ(fsdk::findBest(probe.data(), base.data(), 0, 0.f).index, -1);
  // Only records opposite the probe, all at similarity 0: the first one leads.
  std::vector<float> far;
  for (int k = 0; k < 3; ++k)
    for (float v : probe) far.push_back(-v);
  const fsdk::ScanResult none = fsdk::findBest(probe.data(), far.data(), 3, 0.f);
  EXPECT_EQ(none.index, 0);
  EXPECT_EQ(none.similarity, 0.f);
}

TEST(Weights, FilesOfTheWrongSizeAreRefused) {
  QTemporaryDir dir;
  const QString models = test::thirdPartyDir() + "/face-models/";
  const QByteArray manifest = test::readFile(models + "face_landmark_68_model-weights_manifest.json");
  const QByteArray weights = test::readFile(models + "face_landmark_68_model.bin");
  test::writeFile(dir.filePath("face_landmark_68_model-weights_manifest.json"), manifest);

  test::writeFile(dir.filePath("face_landmark_68_model.bin"), weights);
  EXPECT_NO_THROW(fsdk::detail::loadWeights(dir.path(), "face_landmark_68_model"));
  test::writeFile(dir.filePath("face_landmark_68_model.bin"), weights.left(weights.size() - 1));
  EXPECT_THROW(fsdk::detail::loadWeights(dir.path(), "face_landmark_68_model"), std::runtime_error);
  test::writeFile(dir.filePath("face_landmark_68_model.bin"), weights + "x");
  EXPECT_THROW(fsdk::detail::loadWeights(dir.path(), "face_landmark_68_model"), std::runtime_error);
  EXPECT_THROW(fsdk::detail::loadWeights(dir.path(), "no_such_model"), std::runtime_error);
}
