// tavolin-office: the office system's side of the flag directory, for tests, demos and the
// operators' own checks. Drops a request, waits for its answer and prints it.
//
//   tavolin-office checkin FLAGDIR BARCODE [--timeout S]
//   tavolin-office new FLAGDIR [--timeout S]
//   tavolin-office user FLAGDIR BARCODE PICKED [--force] [--timeout S]
//   tavolin-office --help | --version
//
// Exit codes: 0 answer read, 1 time-out (or the request could not be written), 2 usage.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <limits>

#include "base/ansi_text.h"
#include "base/paths.h"

using namespace tavo;

namespace {

int usage(FILE* to = stderr) {
  std::fputs(
      "usage: tavolin-office checkin FLAGDIR BARCODE [--timeout S]\n"
      "       tavolin-office new FLAGDIR [--timeout S]\n"
      "       tavolin-office user FLAGDIR BARCODE PICKED [--force] [--timeout S]\n"
      "       tavolin-office --help | --version\n"
      "FLAGDIR is a folder as the station names it (C:\\Face\\Monitor) or a path on this machine.\n"
      "Exit codes: 0 answer read, 1 time-out, 2 usage.\n",
      to);
  return to == stderr ? 2 : 0;
}

void print(const QString& text) { std::fputs(text.toLocal8Bit().constData(), stdout); }

// Lines in code page 1251, each ended by CR LF; written whole.
bool writeRequest(const QString& dir, const QString& name, const QStringList& lines) {
  QByteArray bytes;
  for (const QString& l : lines) bytes += toAnsi(l) + "\r\n";
  QString error;
  if (!writeFileAtomically(joinPath(dir, name), bytes, &error)) {
    std::fprintf(stderr, "tavolin-office: cannot write %s: %s\n", qPrintable(name), qPrintable(error));
    return false;
  }
  return true;
}

bool waitFor(const QString& path, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!QFile::exists(hostPath(path))) {
    if (t.elapsed() >= timeoutMs) return false;
    QThread::msleep(5);
  }
  return true;
}

// Prints an answer file decoded from code page 1251, one line each.
void printAnswer(const QString& path) {
  QFile f(hostPath(path));
  if (!f.open(QIODevice::ReadOnly)) return;
  for (const QString& line : readRequestLines(f.readAll())) print(line + QLatin1Char('\n'));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  int timeoutMs = 30000;
  bool force = false;
  for (int i = 0; i < args.size();) {
    if (args[i] == QLatin1String("--timeout")) {
      bool ok = false;
      const double s = i + 1 < args.size() ? args[i + 1].toDouble(&ok) : 0;
      if (!ok || !(s >= 0)) return usage();
      // Long waits are capped rather than wrapped round to a negative time.
      timeoutMs = s * 1000 >= double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(s * 1000);
      args.remove(i, 2);
    } else if (args[i] == QLatin1String("--force")) {
      force = true;
      args.removeAt(i);
    } else if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
      return usage(stdout);
    } else if (args[i] == QLatin1String("--version")) {
      std::printf("tavolin-office %s\n", TAVO_VERSION);
      return 0;
    } else if (args[i].size() > 1 && args[i].startsWith(QLatin1Char('-'))) {
      // An unknown option is no barcode or folder to write a request for.
      std::fprintf(stderr, "tavolin-office: unknown option %s\n", qPrintable(args[i]));
      return usage();
    } else {
      ++i;
    }
  }
  if (args.isEmpty()) return usage();
  const QString command = args[0];

  if (command == QLatin1String("checkin") && args.size() == 3) {
    const QString dir = args[1], barcode = args[2];
    const QString answer = joinPath(dir, QStringLiteral("out") + barcode + QStringLiteral(".txt"));
    removeFile(answer);  // an answer from before must not be taken for this one
    if (!writeRequest(dir, QStringLiteral("123.txt"), {barcode})) return 1;
    if (!waitFor(answer, timeoutMs)) {
      std::fputs("tavolin-office: no answer in time\n", stderr);
      return 1;
    }
    printAnswer(answer);
    return 0;
  }
  if (command == QLatin1String("new") && args.size() == 2) {
    const QString dir = args[1];
    const QString ready = joinPath(dir, QStringLiteral("ready.txt"));
    removeFile(ready);
    if (!writeRequest(dir, QStringLiteral("New.txt"), {})) return 1;
    if (!waitFor(ready, timeoutMs)) {
      std::fputs("tavolin-office: no photo series in time\n", stderr);
      return 1;
    }
    const QStringList pictures = QDir(hostPath(dir)).entryList(
        {QStringLiteral("Face1*_face.jpg"), QStringLiteral("Photo1.jpg")}, QDir::Files, QDir::Name);
    for (const QString& p : pictures) print(p + QLatin1Char('\n'));
    return 0;
  }
  if (command == QLatin1String("user") && args.size() == 4) {
    const QString dir = args[1];
    const QString answer = joinPath(dir, QStringLiteral("endUser.txt"));
    removeFile(answer);
    if (!writeRequest(dir, QStringLiteral("user.txt"),
                      {args[2], args[3], force ? QStringLiteral("Да") : QString()}))
      return 1;
    if (!waitFor(answer, timeoutMs)) {
      std::fputs("tavolin-office: no answer in time\n", stderr);
      return 1;
    }
    printAnswer(answer);
    return 0;
  }
  return usage();
}
