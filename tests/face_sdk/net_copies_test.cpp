// Copies of the networks for passes on several threads: each thread's answer is the one a single
// pass gives, and a copy built late does not need the network files any more.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <opencv2/imgcodecs.hpp>
#include <thread>
#include <vector>

#include "face/sdk/engine.h"
#include "face/sdk/nets.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

using fsdk::detail::DescriptorKind;
using fsdk::detail::DetectorKind;
using fsdk::detail::FaceNets;

TEST(NetCopies, PassesOnTwoThreadsAgreeWithOnePassEvenAfterTheFilesAreGone) {
  auto folder = std::make_unique<QTemporaryDir>();
  const QDir source(thirdPartyDir() + "/face-models");
  for (const QString& name : source.entryList(QDir::Files))
    ASSERT_TRUE(QFile::copy(source.filePath(name), folder->filePath(name)));
  FaceNets nets(folder->path(), fsdk::detail::kDetector, DescriptorKind::Feature512);
  folder.reset();  // removed: copies made from now on come from the bytes read at the start

  const cv::Mat picture = cv::imread(testData("lfw10/Colin_Powell/Colin_Powell_0001.jpg").toStdString());
  ASSERT_FALSE(picture.empty());
  const auto alone = nets.detect(picture, 0.5f, 416);
  ASSERT_EQ(alone.size(), 1u);
  const cv::Rect2f square = alone[0].box;
  const auto points = nets.landmarks(picture, square);
  const std::vector<float> described = nets.describe(picture(cv::Rect(60, 60, 130, 130)).clone());

  std::vector<std::thread> threads;
  std::vector<int> agreeing(2, 0);
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        const auto found = nets.detect(picture, 0.5f, 416);
        const auto p = nets.landmarks(picture, square);
        const auto d = nets.describe(picture(cv::Rect(60, 60, 130, 130)).clone());
        bool same = found.size() == 1 && cv::norm(found[0].box.tl() - alone[0].box.tl()) < 0.01 &&
                    cv::norm(found[0].box.br() - alone[0].box.br()) < 0.01;
        for (std::size_t k = 0; k < p.size(); ++k) same = same && cv::norm(p[k] - points[k]) < 0.01;
        for (std::size_t k = 0; k < d.size(); ++k) same = same && std::abs(d[k] - described[k]) < 1e-4;
        agreeing[std::size_t(t)] += same;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(agreeing, (std::vector<int>{4, 4}));
  EXPECT_EQ(nets.detectorCopies(), 2);
}

}  // namespace
}  // namespace tavo::test
