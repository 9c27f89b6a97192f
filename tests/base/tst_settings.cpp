#include <QtTest>
#include <thread>

#include "base/appfolder.h"
#include "base/settings.h"
#include "support/testenv.h"

class TstSettings : public QObject {
  Q_OBJECT
 private slots:
  void readsHostAndPort();
  void missingFileSectionOrKeyIsEmpty();
  void oneCharacterReadsEmptyTwoReadThemselves();
  void longValueCutTo254();
  void blanksQuotesAndCase();
  void firstSectionOfTheNameWins();
  void hostileFilesNeverCrash();
  void readAfreshEveryCall();
  void applicationFolderAndShippedFiles();
};

void TstSettings::readsHostAndPort() {
  TestAppFolder app;
  app.writeSettings("servidor.tavarel.mg.gov.br", "8080");
  QCOMPARE(SettingsPath, app.file("diziz.ini"));
  QCOMPARE(ReadSetting("servidor", "host"), QString("servidor.tavarel.mg.gov.br"));
  QCOMPARE(ReadSetting("servidor", "port"), QString("8080"));
}

void TstSettings::missingFileSectionOrKeyIsEmpty() {
  TestAppFolder app;
  QCOMPARE(ReadSetting("servidor", "host"), QString());
  app.write("diziz.ini", "[outro]\nhost=abc\nport=80\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString());
  QCOMPARE(ReadSetting("servidor", "port"), QString());
  app.write("diziz.ini", "[servidor]\nhost=abc\n");
  QCOMPARE(ReadSetting("servidor", "port"), QString());
  // A key outside any section, or before the section, is not the section's.
  app.write("diziz.ini", "port=99\n[servidor]\nhost=abc\n");
  QCOMPARE(ReadSetting("servidor", "port"), QString());
}

void TstSettings::oneCharacterReadsEmptyTwoReadThemselves() {
  TestAppFolder app;
  app.write("diziz.ini", "[servidor]\nhost=a\nport=8\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString());
  QCOMPARE(ReadSetting("servidor", "port"), QString());
  app.write("diziz.ini", "[servidor]\nhost=ab\nport=80\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString("ab"));
  QCOMPARE(ReadSetting("servidor", "port"), QString("80"));
  app.write("diziz.ini", "[servidor]\nport=\n");
  QCOMPARE(ReadSetting("servidor", "port"), QString());
}

void TstSettings::longValueCutTo254() {
  TestAppFolder app;
  QByteArray value;
  for (int i = 0; i < 300; ++i) value += char('a' + i % 26);
  app.write("diziz.ini", "[servidor]\nhost=" + value + "\n");
  const QString got = ReadSetting("servidor", "host");
  QCOMPARE(got.size(), 254);
  QCOMPARE(got, QString::fromLatin1(value.left(254)));
}

void TstSettings::blanksQuotesAndCase() {
  TestAppFolder app;
  app.write("diziz.ini", "  [ SERVIDOR ]  \r\n  HOST  =   127.0.0.1   \r\nPort=\"8080\"\r\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString("127.0.0.1"));
  QCOMPARE(ReadSetting("Servidor", "PORT"), QString("8080"));
  app.write("diziz.ini", "[servidor]\nhost='abc'\nport=\"80'\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString("abc"));
  // Quotes that do not match stay.
  QCOMPARE(ReadSetting("servidor", "port"), QString("\"80'"));
  // Windows-1252 text comes back as the same characters.
  app.write("diziz.ini", "[servidor]\nhost=s\xe3o.paulo\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString::fromUtf8("são.paulo"));
}

void TstSettings::firstSectionOfTheNameWins() {
  TestAppFolder app;
  app.write("diziz.ini", "[servidor]\nhost=first\n[x]\nhost=other\n[servidor]\nhost=second\nport=81\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString("first"));
  app.write("diziz.ini", "[servidor]\nhost=one\nhost=two\n");
  QCOMPARE(ReadSetting("servidor", "host"), QString("one"));
}

void TstSettings::hostileFilesNeverCrash() {
  TestAppFolder app;
  // Empty, binary and 1 MB files give empty values or the value, never a crash.
  app.write("diziz.ini", QByteArray());
  QCOMPARE(ReadSetting("servidor", "host"), QString());
  QByteArray bin;
  for (int i = 0; i < 65536; ++i) bin += char((i * 7919) & 0xff);
  app.write("diziz.ini", bin);
  QVERIFY(ReadSetting("servidor", "host").size() <= 254);
  QByteArray big = "[servidor]\nhost=" + QByteArray(1024 * 1024, 'x') + "\nport=80\n";
  app.write("diziz.ini", big);
  QCOMPARE(ReadSetting("servidor", "host").size(), 254);
  QCOMPARE(ReadSetting("servidor", "port"), QString("80"));
  app.write("diziz.ini", QByteArray("[servidor]\nhost=ab\0cd\n", 22));
  QCOMPARE(ReadSetting("servidor", "host"), QString("ab"));
  // A folder where the file should be is an unreadable file.
  QDir(app.path()).mkdir("diziz.ini.d");
  SettingsPath = app.file("diziz.ini.d");
  QCOMPARE(ReadSetting("servidor", "host"), QString());
}

void TstSettings::readAfreshEveryCall() {
  TestAppFolder app;
  app.writeSettings("host-a", "1000");
  QCOMPARE(ReadSetting("servidor", "host"), QString("host-a"));
  app.writeSettings("host-b", "2000");
  QCOMPARE(ReadSetting("servidor", "host"), QString("host-b"));
  QCOMPARE(ReadSetting("servidor", "port"), QString("2000"));

  // A snapshot holds the file as it was (nested ones too) and lets go of it at its end; another
  // thread keeps reading afresh meanwhile.
  {
    const SettingsSnapshot outer;
    app.writeSettings("host-c", "3000");
    QCOMPARE(ReadSetting("servidor", "host"), QString("host-b"));
    {
      const SettingsSnapshot inner;
      QCOMPARE(ReadSetting("servidor", "port"), QString("3000"));
    }
    QCOMPARE(ReadSetting("servidor", "port"), QString("2000"));
    QString elsewhere;
    std::thread([&] { elsewhere = ReadSetting("servidor", "host"); }).join();
    QCOMPARE(elsewhere, QString("host-c"));
  }
  QCOMPARE(ReadSetting("servidor", "host"), QString("host-c"));
}

void TstSettings::applicationFolderAndShippedFiles() {
  TestAppFolder app;
  QCOMPARE(AppFolder::path(), app.path());
  QCOMPARE(AppFolder::file("diziz.db"), app.path() + "/diziz.db");
  // Without a copy of its own, the folder uses the one beside the executable.
  QCOMPARE(AppFolder::shipped("info.dip"), QCoreApplication::applicationDirPath() + "/info.dip");
  app.write("info.dip", "9.99.99");
  QCOMPARE(AppFolder::shipped("info.dip"), app.file("info.dip"));
  qputenv("ZIDE_HOME", (app.path() + "///").toLocal8Bit());
  QCOMPARE(AppFolder::path(), app.path());
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
