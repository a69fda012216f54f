#pragma once
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "app/shell/station_parts.h"
#include "base/station.h"
#include "app/station_app.h"
#include "app/ui/dataset_grid.h"
#include "app/ui/main_window.h"
#include "app/ui/models_tab.h"
#include "app/ui/prototype_tab.h"
#include "app/ui/work_tab.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "protect/face_file.h"
#include "tests/models/model_fixture.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// A program directory with the networks, cascades, sample picture and an encrypted database,
// the station's parts over it (the model editor played by a script) and the main window shown.
class UiFixture : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(dir.linkNetworks());
    ASSERT_TRUE(dir.installCascades());
    ASSERT_TRUE(QFile::copy(thirdPartyDir() + QStringLiteral("/install/Image.jpg"), dir.file(QStringLiteral("Image.jpg"))));
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    station.locale = QLocale(QLocale::Russian, QLocale::Russia);
    app = std::make_unique<StationApp>(station, dir.path());
    station.settings.faceWidth = 80;
    station.settings.faceHeight = 80;
    for (const QString& d : {station.settings.modelDir, station.settings.flagDir, station.settings.workDir,
                             QString::fromLatin1(kExportFolder)})
      ASSERT_TRUE(QDir().mkpath(hostPath(d)));
    parts = std::make_unique<StationParts>(*app);
    parts->attachModelEditor(editor);
    parts->cropper().loadCascades();
    data().open();
    WorkFilter today;
    today.fromDate = clock.today();
    data().applyWorkFilter(today);
  }

  void TearDown() override {
    window.reset();
    parts.reset();
  }

  // Opens the main window at its designed size.
  void openWindow() {
    window = std::make_unique<MainWindow>(*app);
    window->showAtDesignedSize();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  DataStore& data() { return parts->data(); }
  Dataset& works() { return data().tableWorks(); }
  Dataset& models() { return data().tableModel(); }
  WorkTab* workTab() const { return window->findChild<WorkTab*>(); }
  ModelsTab* modelsTab() const { return window->findChild<ModelsTab*>(); }
  PrototypeTab* prototypeTab() const { return window->findChild<PrototypeTab*>(); }
  void click(QPushButton* b) {
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
  }
  void showTab(QWidget* tab) {
    window->tabs()->setCurrentWidget(tab);
    QApplication::processEvents();
  }

  static QString lfw(const QString& person, int n) {
    return testData(QStringLiteral("lfw10/%1/%1_%2.jpg").arg(person).arg(n, 4, 10, QLatin1Char('0')));
  }

  // A model with its encrypted face file and (unless plainCopy is false) its plain "_face.jpg".
  qint64 addModel(const QString& ean, const QString& photo, const QString& fullName = QString(),
                  bool active = true, bool dark = false, bool plainCopy = true) {
    const QString fileName = QStringLiteral("20190101-model-%1").arg(++serial_, 4, 10, QLatin1Char('0'));
    const QString base = joinPath(station.settings.modelDir, fileName);
    if (!photo.isEmpty()) {
      EncryptImage(photo, base, kSystemKey);
      if (plainCopy) {
        EXPECT_TRUE(QFile::copy(photo, hostPath(base + "_face.jpg")));
      }
    }
    data().exec(QStringLiteral("INSERT INTO Model (EAN, FileName, FullName, Active, dark, DateInsert) "
                               "VALUES (?, ?, ?, ?, ?, ?)"),
                {ean, fileName, fullName, active, dark, QDateTime(QDate(2019, 1, 1 + serial_ % 28), QTime(8, 0))});
    const qint64 id = data().database().lastInsertId();
    models().refresh();
    return id;
  }

  struct Work {
    QDate day;
    QTime time{9, 0};
    QString sn = QStringLiteral("2200000000011");
    int idModel = 0;
    bool isFace = false;
    bool excellent = false;
    double percent = 0;
    QString photo;  // encrypted as the entry's face file, with its plain copy
    int l = 0, r = 0, t = 0, b = 0;
  };
  qint64 addWork(const Work& w) {
    QString fileName;
    if (!w.photo.isEmpty()) {
      fileName = QStringLiteral("2019\\07\\09\\20190709-work-%1").arg(++serial_, 4, 10, QLatin1Char('0'));
      const QString base = joinPath(station.settings.workDir, fileName);
      EXPECT_TRUE(QDir().mkpath(QFileInfo(hostPath(base)).absolutePath()));
      EncryptImage(w.photo, base, kSystemKey);
      EXPECT_TRUE(QFile::copy(w.photo, hostPath(base + "_face.jpg")));
    }
    data().exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, idModel, is_face, excellent, "
                               "PercentDifference, FileName, cLeft, cRight, cTop, cBottom, width, height) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 120, 120)"),
                {w.day.isValid() ? w.day : clock.today(), w.time, w.sn, w.idModel, w.isFace, w.excellent, w.percent,
                 fileName, w.l, w.r, w.t, w.b});
    const qint64 id = data().database().lastInsertId();
    works().refresh();
    return id;
  }

  int workRows() { return works().recordCount(); }

  ScriptedEditor editor;
  std::unique_ptr<StationApp> app;
  std::unique_ptr<StationParts> parts;
  std::unique_ptr<MainWindow> window;

 private:
  int serial_ = 0;
};

}  // namespace tavo::test
