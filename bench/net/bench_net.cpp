// Upload of a large file and SOAP round trips, this program's client against curl in the same run,
// both talking to zide-sandbox on 127.0.0.1, both on a fresh connection for every request (as the
// client always connects afresh, curl is told "Connection: close"). Each side runs as a child
// process so that its wall time and peak resident memory are measured alike (wait4); the rounds
// alternate the two sides, so a busy machine weighs on both, and the median is shown.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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
  double seconds = 0;   // the whole process
  double transfer = 0;  // what the process itself reports on stdout: from the request to the answer
  long maxRssKb = 0;
  int exitCode = -1;
};

Run measure(const QStringList& argv) {
  std::vector<QByteArray> storage;
  std::vector<char*> args;
  for (const QString& a : argv) storage.push_back(a.toLocal8Bit());
  for (QByteArray& a : storage) args.push_back(a.data());
  args.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  Run r;
  QElapsedTimer clock;
  clock.start();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  QByteArray printed;
  char buf[4096];
  for (ssize_t n; spawned == 0 && (n = read(out[0], buf, sizeof buf)) > 0;) printed.append(buf, n);
  close(out[0]);
  if (spawned != 0) return r;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = clock.nsecsElapsed() / 1e9;
  r.transfer = printed.trimmed().replace(',', '.').toDouble();
  r.maxRssKb = usage.ru_maxrss;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Child: one upload the way a transmission window makes it (the file read while it goes out).
int uploadOnce(const QString& file, const QString& url) {
  QString error;
  const UrlParts parts = SplitUrl(url);
  const auto target = ResolveUploadTarget(parts, &error);
  if (!target) return 3;
  QElapsedTimer clock;
  clock.start();
  const bool trace = qEnvironmentVariableIsSet("ZIDE_BENCH_FASES");
  auto request =
      OpenUploadRequest(file, parts, "objArquivo", QFileInfo(file).fileName(), "application/octet-stream", &error);
  if (!request) return 4;
  Uploader up;
  int result = 5;
  QEventLoop loop;
  QObject::connect(&up, &Uploader::sendComplete, [&] {
    if (trace) fprintf(stderr, "enviado %lld ms\n", clock.elapsed());
  });
  QObject::connect(&up, &Uploader::answerComplete, [&](const QByteArray& answer, int status) {
    if (trace) fprintf(stderr, "resposta %lld ms\n", clock.elapsed());
    result = status == 200 && !answer.isEmpty() ? 0 : 6;
    loop.quit();
  });
  QObject::connect(&up, &Uploader::errorOccurred, [&](int, const QString& d) {
    fprintf(stderr, "upload: %s\n", qPrintable(d));
    loop.quit();
  });
  if (!up.send(*target, std::move(*request))) return 7;
  if (trace) fprintf(stderr, "conectado %lld ms\n", clock.elapsed());
  loop.exec();
  // As curl's time_total: from the request to the whole answer, without the process's own start.
  printf("%.6f\n", clock.nsecsElapsed() / 1e9);
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

Run median(QList<Run> runs, bool byTransfer = false) {
  std::sort(runs.begin(), runs.end(),
            [&](const Run& a, const Run& b) { return byTransfer ? a.transfer < b.transfer : a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// The median of round i's ratio, theirs over ours: each pair ran side by side, so a machine that
// slows down or speeds up during the run weighs on both of a pair alike.
double medianRatio(const QList<double>& ours, const QList<double>& theirs) {
  QList<double> r;
  for (qsizetype i = 0; i < qMin(ours.size(), theirs.size()); ++i)
    if (ours[i] > 0) r << theirs[i] / ours[i];
  if (r.isEmpty()) return 0;
  std::sort(r.begin(), r.end());
  return r[r.size() / 2];
}

void writeRandomFile(const QString& path, int mb) {
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  QByteArray block(1024 * 1024, Qt::Uninitialized);
  for (int i = 0; i < mb; ++i) {
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    f.write(block);
  }
}
long maxRss(const QList<Run>& runs) {
  long m = 0;
  for (const Run& r : runs) m = std::max(m, r.maxRssKb);
  return m;
}
// The sandbox both sides talk to, and this program for its children.
struct Peer {
  const QTemporaryDir& dir;
  QString port, ie, key, self;
};

// Our upload against curl's, side by side; 0, or 1 when a side failed.
int compareUploads(const Peer& peer, int mb, int uploadRounds) {
  const QString& port = peer.port;
  const QString& key = peer.key;
  const QString& self = peer.self;
  // Incompressible content, written once; a tenth of it shows whether the peak grows with the file.
  const QString file = peer.dir.filePath("ZIDE.GDB");
  const QString small = peer.dir.filePath("ZIDE-pequeno.GDB");
  writeRandomFile(file, mb);
  writeRandomFile(small, qMax(1, mb / 10));
  const double bytes = double(mb) * 1024 * 1024;
  const QString url = "http://127.0.0.1:" + port + " /client_zide/xt_upload.php?contador=1&chave=" + key + "&gias=1";
  const QString curlUrl = "http://127.0.0.1:" + port + "/client_zide/xt_upload.php?contador=1&chave=" + key + "&gias=1";
  auto curlUpload = [&](const QString& path) {
    return measure({"curl", "-sS", "-o", "/dev/null", "-w", "%{time_total}", "-H", "Expect:", "-H", "Connection: close",
                    "-F", "objArquivo=@" + path + ";type=application/octet-stream", curlUrl});
  };

  QList<Run> ours, theirs, oursSmall, theirsSmall;
  for (int i = 0; i < uploadRounds; ++i) {
    ours << measure({self, "--upload-uma-vez", file + "|" + url});
    theirs << curlUpload(file);
    if (ours.last().exitCode != 0 || theirs.last().exitCode != 0) {
      fprintf(stderr, "falha: nosso %d, curl %d\n", ours.last().exitCode, theirs.last().exitCode);
      return 1;
    }
  }
  oursSmall << measure({self, "--upload-uma-vez", small + "|" + url});
  theirsSmall << curlUpload(small);
  const Run o = median(ours, true), c = median(theirs, true);
  const Run ow = median(ours), cw = median(theirs);
  printf(
      "upload de %d MB (mediana de %d; curl com \"Connection: close\"; tempo do pedido à resposta, como o\n"
      "time_total do curl, e entre parênteses o do processo inteiro):\n",
      mb, uploadRounds);
  printf("  zide  %.3f s  %.0f MB/s  (%.3f s)  pico %ld MB (%.2f x o arquivo); com %d MB: pico %ld MB\n", o.transfer,
         bytes / o.transfer / 1048576.0, ow.seconds, maxRss(ours) / 1024, maxRss(ours) * 1024.0 / bytes,
         qMax(1, mb / 10), maxRss(oursSmall) / 1024);
  printf("  curl  %.3f s  %.0f MB/s  (%.3f s)  pico %ld MB (%.2f x o arquivo); com %d MB: pico %ld MB\n", c.transfer,
         bytes / c.transfer / 1048576.0, cw.seconds, maxRss(theirs) / 1024, maxRss(theirs) * 1024.0 / bytes,
         qMax(1, mb / 10), maxRss(theirsSmall) / 1024);
  QList<double> ourTimes, curlTimes;
  for (const Run& r : ours) ourTimes << r.transfer;
  for (const Run& r : theirs) curlTimes << r.transfer;
  printf("  vazão zide/curl = %.2f (das medianas: %.2f; processo inteiro: %.2f)\n", medianRatio(ourTimes, curlTimes),
         c.transfer / o.transfer, cw.seconds / ow.seconds);

  return 0;
}

// Our SOAP round trips against curl's, side by side; 0, or 1 when a side failed.
int compareSoap(const Peer& peer, int soapN, int rounds) {
  const QString& port = peer.port;
  const QString& ie = peer.ie;
  const QString& key = peer.key;
  const QString& self = peer.self;
  // SOAP: the same number of round trips in one process each.
  QDir(peer.dir.path()).mkpath("app");
  QFile ini(peer.dir.filePath("app/diziz.ini"));
  ini.open(QIODevice::WriteOnly);
  ini.write("[servidor]\r\nhost=127.0.0.1\r\nport=" + port.toLatin1() + "\r\n");
  ini.close();
  qputenv("ZIDE_HOME", peer.dir.filePath("app").toLocal8Bit());
  QFile body(peer.dir.filePath("ver2.xml"));
  body.open(QIODevice::WriteOnly);
  body.write(
      BuildSoapBody("Transferencia.ver2", {{"strNome", ie}, {"strDiretorioDestino", "vbs"}, {"Chave", key}}).toUtf8());
  body.close();
  // Every request on a connection of its own, as the client makes them.
  const QString soapUrl = "http://127.0.0.1:" + port + "/ovu/server/index_zide.php?wsdl";
  auto curlSoap = [&](int n) {
    QStringList args{"curl",
                     "-sS",
                     "-H",
                     "Content-Type: text/xml",
                     "-H",
                     "SOAPAction: Transferencia.ver2",
                     "-H",
                     "Connection: close",
                     "--data-binary",
                     "@" + body.fileName()};
    for (int i = 0; i < n; ++i)
      args << "-o"
           << "/dev/null" << soapUrl;
    return measure(args);
  };
  auto oursSoap = [&](int n) { return measure({self, "--soap-rodadas", QString::number(n) + "|" + ie + "|" + key}); };
  // A round trip's cost is what one more adds to a process: (N trips - 1 trip) / (N - 1), so neither
  // side's start and exit (Qt's is heavier than curl's) counts as part of it.
  QList<Run> soapOurs, soapTheirs, oneOurs, oneTheirs;
  for (int i = 0; i < rounds; ++i) {
    soapOurs << oursSoap(soapN);
    soapTheirs << curlSoap(soapN);
    oneOurs << oursSoap(1);
    oneTheirs << curlSoap(1);
    for (const Run* r : {&soapOurs.last(), &soapTheirs.last(), &oneOurs.last(), &oneTheirs.last()})
      if (r->exitCode != 0) {
        fprintf(stderr, "falha SOAP: código %d\n", r->exitCode);
        return 1;
      }
  }
  const Run so = median(soapOurs), sc = median(soapTheirs);
  const double perOurs = (so.seconds - median(oneOurs).seconds) / qMax(1, soapN - 1);
  const double perCurl = (sc.seconds - median(oneTheirs).seconds) / qMax(1, soapN - 1);
  printf(
      "SOAP Transferencia.ver2 (mediana de %d; curl com \"Connection: close\"; cada ida e volta é o que ela\n"
      "acrescenta ao processo: %d idas e voltas menos uma, dividido por %d):\n",
      rounds, soapN, qMax(1, soapN - 1));
  printf("  zide  %.3f ms cada  (processo com %d: %.3f s)  pico %ld MB\n", perOurs * 1000, soapN, so.seconds,
         maxRss(soapOurs) / 1024);
  printf("  curl  %.3f ms cada  (processo com %d: %.3f s)  pico %ld MB\n", perCurl * 1000, soapN, sc.seconds,
         maxRss(soapTheirs) / 1024);
  QList<double> ourTrips, curlTrips;
  for (int i = 0; i < rounds; ++i) {
    ourTrips << soapOurs[i].seconds - oneOurs[i].seconds;
    curlTrips << soapTheirs[i].seconds - oneTheirs[i].seconds;
  }
  printf("  velocidade zide/curl = %.2f (das medianas: %.2f; processo inteiro: %.2f)\n",
         medianRatio(ourTrips, curlTrips), perCurl / perOurs, sc.seconds / so.seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser cli;
  cli.setApplicationDescription(
      "Mede o envio de um arquivo grande e as idas e voltas SOAP do programa contra o curl, na mesma rodada,\n"
      "ambos contra o zide-sandbox em 127.0.0.1 e ambos com uma conexão nova por pedido, um lado logo após\n"
      "o outro. Mostra as medianas, a razão zide/curl (mediana das razões de cada par de medições), a vazão\n"
      "e o pico de memória (o do envio também com um arquivo de um décimo do tamanho, para ver se cresce\n"
      "com o arquivo).");
  cli.addHelpOption();
  cli.addOption({"mb", "Tamanho do arquivo em MB.", "N", "50"});
  cli.addOption({"rodadas", "Medições SOAP de cada lado (mediana).", "N", "5"});
  cli.addOption({"rodadas-envio", "Medições do envio de cada lado (mediana).", "N", "11"});
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
  const int rounds = qMax(1, cli.value("rodadas").toInt());
  const int uploadRounds = qMax(1, cli.value("rodadas-envio").toInt());
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

  const Peer peer{dir, port, ie, key, QCoreApplication::applicationFilePath()};
  const int failed = compareUploads(peer, mb, uploadRounds) || compareSoap(peer, soapN, rounds);
  sandbox.kill();
  sandbox.waitForFinished();
  return failed;
}
