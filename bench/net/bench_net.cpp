// Upload of a large file and SOAP round trips, this program's client against curl in the same run,
// both talking to zide-sandbox on 127.0.0.1. Each side runs as a child process so that its wall
// time and peak resident memory are measured alike (wait4).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/settings.h"
#include "net/soap.h"
#include "net/upload.h"

extern char** environ;

namespace {
struct Run {
  double seconds = 0;
  long maxRssKb = 0;
  int exitCode = -1;
};

Run measure(const QStringList& argv) {
  std::vector<QByteArray> storage;
  std::vector<char*> args;
  for (const QString& a : argv) storage.push_back(a.toLocal8Bit());
  for (QByteArray& a : storage) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  Run r;
  QElapsedTimer clock;
  clock.start();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return r;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = clock.nsecsElapsed() / 1e9;
  r.maxRssKb = usage.ru_maxrss;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

// Child: one upload the way a transmission window makes it.
int uploadOnce(const QString& file, const QString& url) {
  QString error;
  const UrlParts parts = SplitUrl(url);
  const auto target = ResolveUploadTarget(parts, &error);
  if (!target) return 3;
  QElapsedTimer clock;
  clock.start();
  const bool trace = qEnvironmentVariableIsSet("ZIDE_BENCH_FASES");
  QByteArray content = TryReadFileBytes(file, &error);
  if (!error.isEmpty()) return 4;
  if (trace) fprintf(stderr, "leitura %lld ms\n", clock.elapsed());
  Uploader up;
  int result = 5;
  QEventLoop loop;
  QObject::connect(&up, &Uploader::sendComplete, [&] {
    if (trace) fprintf(stderr, "enviado %lld ms\n", clock.elapsed());
  });
  QObject::connect(&up, &Uploader::answerComplete, [&](const QByteArray&, int status) {
    if (trace) fprintf(stderr, "resposta %lld ms\n", clock.elapsed());
    result = status == 200 ? 0 : 6;
    loop.quit();
  });
  QObject::connect(&up, &Uploader::errorOccurred, [&](int, const QString& d) {
    fprintf(stderr, "upload: %s\n", qPrintable(d));
    loop.quit();
  });
  QByteArray request = BuildUploadRequest(std::move(content), parts, "objArquivo", QFileInfo(file).fileName(),
                                          "application/octet-stream");
  if (trace) fprintf(stderr, "montagem %lld ms\n", clock.elapsed());
  if (!up.send(*target, std::move(request))) return 7;
  if (trace) fprintf(stderr, "conectado %lld ms\n", clock.elapsed());
  loop.exec();
  return result;
}

// Child: n Transferencia.ver2 round trips through the client's exchange.
int soapRounds(int n, const QString& ie, const QString& key) {
  for (int i = 0; i < n; ++i) {
    QString response, result;
    if (!SendSoapRequest("Transferencia.ver2", {{"strNome", ie}, {"strDiretorioDestino", "vbs"}, {"Chave", key}},
                         &response) ||
        !GetResult(response, "return", &result) || !result.startsWith("<listaTransferencias"))
      return 8;
  }
  return 0;
}

Run best(const QList<Run>& runs) {
  return *std::min_element(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
}
long maxRss(const QList<Run>& runs) {
  long m = 0;
  for (const Run& r : runs) m = std::max(m, r.maxRssKb);
  return m;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser cli;
  cli.addHelpOption();
  cli.addOption({"mb", "Tamanho do arquivo em MB.", "N", "50"});
  cli.addOption({"rodadas", "Repetições de cada envio.", "N", "3"});
  cli.addOption({"soap", "Idas e voltas SOAP por medição.", "N", "200"});
  cli.addOption({"upload-uma-vez", "(filho) envia ARQUIVO para URL.", "ARQUIVO|URL"});
  cli.addOption({"soap-rodadas", "(filho) N idas e voltas SOAP para IE|CHAVE.", "N|IE|CHAVE"});
  cli.process(app);

  if (cli.isSet("upload-uma-vez")) {
    const QStringList p = cli.value("upload-uma-vez").split('|');
    return uploadOnce(p.value(0), p.value(1));
  }
  if (cli.isSet("soap-rodadas")) {
    const QStringList p = cli.value("soap-rodadas").split('|');
    InitSettingsPath();
    return soapRounds(p.value(0).toInt(), p.value(1), p.value(2));
  }

  const int mb = cli.value("mb").toInt();
  const int rounds = cli.value("rodadas").toInt();
  const int soapN = cli.value("soap").toInt();
  QTemporaryDir dir;
  const QString ie = "0012345670089", key = "AB12CD34";

  QProcess sandbox;
  sandbox.setStandardErrorFile(QProcess::nullDevice());
  sandbox.start(
      QCoreApplication::applicationDirPath() + "/zide-sandbox",
      {"--porta", "0", "--dados", dir.filePath("sandbox.db"), "--contribuinte", ie + ":" + key + ":11222333000181"});
  if (!sandbox.waitForReadyRead(10000)) {
    fprintf(stderr, "zide-sandbox não iniciou\n");
    return 1;
  }
  const QString port = QString::fromLatin1(sandbox.readLine()).trimmed().mid(6);

  // Incompressible content, written once.
  const QString file = dir.filePath("ZIDE.GDB");
  {
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < mb; ++i) {
      QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
      f.write(block);
    }
  }
  const double bytes = double(mb) * 1024 * 1024;
  const QString url = "http://127.0.0.1:" + port + " /client_zide/xt_upload.php?contador=1&chave=" + key + "&gias=1";
  const QString curlUrl = "http://127.0.0.1:" + port + "/client_zide/xt_upload.php?contador=1&chave=" + key + "&gias=1";
  const QString self = QCoreApplication::applicationFilePath();

  QList<Run> ours, theirs;
  for (int i = 0; i < rounds; ++i) {
    ours << measure({self, "--upload-uma-vez", file + "|" + url});
    theirs << measure({"curl", "-sS", "-o", "/dev/null", "-H", "Expect:", "-F",
                       "objArquivo=@" + file + ";type=application/octet-stream", curlUrl});
    if (ours.last().exitCode != 0 || theirs.last().exitCode != 0) {
      fprintf(stderr, "falha: nosso %d, curl %d\n", ours.last().exitCode, theirs.last().exitCode);
      return 1;
    }
  }
  const Run o = best(ours), c = best(theirs);
  printf("upload de %d MB (melhor de %d):\n", mb, rounds);
  printf("  zide  %.3f s  %.0f MB/s  pico %ld MB (%.2f x o arquivo)\n", o.seconds, bytes / o.seconds / 1048576.0,
         maxRss(ours) / 1024, maxRss(ours) * 1024.0 / bytes);
  printf("  curl  %.3f s  %.0f MB/s  pico %ld MB (%.2f x o arquivo)\n", c.seconds, bytes / c.seconds / 1048576.0,
         maxRss(theirs) / 1024, maxRss(theirs) * 1024.0 / bytes);
  printf("  vazão zide/curl = %.2f\n", c.seconds / o.seconds);

  // SOAP: the same number of round trips in one process each.
  QDir(dir.path()).mkpath("app");
  QFile ini(dir.filePath("app/diziz.ini"));
  ini.open(QIODevice::WriteOnly);
  ini.write("[servidor]\r\nhost=127.0.0.1\r\nport=" + port.toLatin1() + "\r\n");
  ini.close();
  qputenv("ZIDE_HOME", dir.filePath("app").toLocal8Bit());
  QFile body(dir.filePath("ver2.xml"));
  body.open(QIODevice::WriteOnly);
  body.write(
      BuildSoapBody("Transferencia.ver2", {{"strNome", ie}, {"strDiretorioDestino", "vbs"}, {"Chave", key}}).toUtf8());
  body.close();
  QStringList curlSoap{"curl",
                       "-sS",
                       "-o",
                       "/dev/null",
                       "-H",
                       "Content-Type: text/xml",
                       "-H",
                       "SOAPAction: Transferencia.ver2",
                       "--data-binary",
                       "@" + body.fileName()};
  const QString soapUrl = "http://127.0.0.1:" + port + "/ovu/server/index_zide.php?wsdl";
  for (int i = 0; i < soapN; ++i) curlSoap << soapUrl;
  QList<Run> soapOurs, soapTheirs;
  for (int i = 0; i < rounds; ++i) {
    soapOurs << measure({self, "--soap-rodadas", QString::number(soapN) + "|" + ie + "|" + key});
    soapTheirs << measure(curlSoap);
    if (soapOurs.last().exitCode != 0 || soapTheirs.last().exitCode != 0) {
      fprintf(stderr, "falha SOAP: nosso %d, curl %d\n", soapOurs.last().exitCode, soapTheirs.last().exitCode);
      return 1;
    }
  }
  const Run so = best(soapOurs), sc = best(soapTheirs);
  printf("SOAP Transferencia.ver2, %d idas e voltas (melhor de %d):\n", soapN, rounds);
  printf("  zide  %.3f s  %.2f ms cada  pico %ld MB\n", so.seconds, so.seconds * 1000 / soapN, maxRss(soapOurs) / 1024);
  printf("  curl  %.3f s  %.2f ms cada  pico %ld MB\n", sc.seconds, sc.seconds * 1000 / soapN,
         maxRss(soapTheirs) / 1024);
  printf("  tempo curl/zide = %.2f\n", sc.seconds / so.seconds);
  sandbox.kill();
  sandbox.waitForFinished();
  return 0;
}
