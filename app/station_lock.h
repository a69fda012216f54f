#pragma once
#include <QString>

namespace tavo {

// A station's exclusive hold on a folder it serves (its program directory, its flag folder):
// an advisory lock (flock) on a lock file in the folder. The lock goes with the process, also
// when it is killed, so nothing stale is left; the file itself stays and says who held it last.
class StationLock {
 public:
  static constexpr char kFileName[] = ".tavolin.lock";

  StationLock() = default;
  StationLock(const StationLock&) = delete;
  StationLock& operator=(const StationLock&) = delete;
  ~StationLock();

  // Takes the folder (host path). False when another process holds it; *why then says so (with
  // the holder's process and host as it wrote them). A lock file that cannot be made, or a file
  // system without locks, gives true with a warning in *why (and held() false for the former).
  bool take(const QString& hostFolder, QString* why);
  void release();
  bool held() const { return fd_ >= 0; }
  const QString& folder() const { return folder_; }

 private:
  int fd_ = -1;
  QString folder_;
};

}  // namespace tavo
