// Fuzz target: encrypted face files come from the model and work folders and from the office's
// import folder. The input is the plain picture; it is stored as "_face.bin" with the station's
// key and opened by the three readers (in memory, the plain copy, the enrolment copy).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "protect/face_file.h"

namespace {

void writeWhole(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) std::abort();
}

QByteArray readWhole(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  const QString program = dir.path() + QLatin1Char('/');
  static const bool made = QDir().mkpath(program + QStringLiteral("Temp"));
  (void)made;
  const QByteArray plain(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString base = program + QStringLiteral("m");
  const QString bin = base + QLatin1String(tavo::kFaceBinSuffix);
  const QString jpg = base + QLatin1String(tavo::kFaceJpgSuffix);

  // Stored the way enrolment stores it; the key stream is its own inverse.
  writeWhole(program + QStringLiteral("src.jpg"), plain);
  tavo::EncryptImage(program + QStringLiteral("src.jpg"), base, tavo::kSystemKey);
  const QByteArray stored = readWhole(bin);
  if (stored != tavo::keyStreamTransform(plain, tavo::kSystemKey)) std::abort();
  if (tavo::keyStreamTransform(stored, tavo::kSystemKey) != plain) std::abort();

  const std::optional<QImage> view = tavo::DecryptImageView(base, tavo::kSystemKey);
  if (view && view->isNull()) std::abort();

  // The plain copy is written only for a picture, and then holds the bytes unchanged.
  QFile::remove(jpg);
  const bool wrote = tavo::DecryptImage_Hier(base, tavo::kSystemKey);
  if (wrote != QFile::exists(jpg)) std::abort();
  if (wrote && readWhole(jpg) != plain) std::abort();
  if (wrote != view.has_value()) std::abort();

  // The enrolment copy is there exactly when the call says it wrote one.
  const bool enrolCopy = tavo::DecryptImage(base, tavo::kSystemKey, program);
  if (enrolCopy != QFile::exists(program + QStringLiteral("Temp/CreateArreyModel.jpg"))) std::abort();

  // Another key: never a picture taken for this one, and no crash.
  tavo::DecryptImageView(base, tavo::kSystemKey + 1);
  return 0;
}
