#include "transmission/declarationfile.h"

#include <QDir>

namespace {
quint16 get16(const QByteArray& b, int at) {
  return static_cast<quint16>(static_cast<quint8>(b.at(at)) | static_cast<quint8>(b.at(at + 1)) << 8);
}
quint32 get32(const QByteArray& b, int at) {
  return static_cast<quint32>(get16(b, at)) | static_cast<quint32>(get16(b, at + 2)) << 16;
}
}  // namespace

QString onDiskVersionName(int major) {
  switch (major) {
    case 8: return QStringLiteral("InterBase 4");
    case 9: return QStringLiteral("InterBase 5");
    case 10: return QStringLiteral("InterBase 6 ou Firebird 1");
    case 11: return QStringLiteral("Firebird 2");
    case 12: return QStringLiteral("Firebird 3");
    case 13: return QStringLiteral("Firebird 4 ou 5");
    default: break;
  }
  return major < 8 ? QStringLiteral("uma versão antiga do InterBase")
                   : QStringLiteral("uma versão do Firebird mais nova que a 5");
}

QString engineGeneration(int major, int minor) {
  QString release;
  switch (major * 10 + qBound(0, minor, 9)) {
    case 100: release = QStringLiteral("InterBase 6 ou Firebird 1.0"); break;
    case 101: release = QStringLiteral("Firebird 1.5"); break;
    case 110: release = QStringLiteral("Firebird 2.0"); break;
    case 111: release = QStringLiteral("Firebird 2.1"); break;
    case 112: release = QStringLiteral("Firebird 2.5"); break;
    case 120: release = QStringLiteral("Firebird 3"); break;
    case 130: release = QStringLiteral("Firebird 4"); break;
    case 131: release = QStringLiteral("Firebird 5"); break;
    default: release = onDiskVersionName(major); break;
  }
  return QStringLiteral("%1 (estrutura em disco %2.%3)").arg(release).arg(major).arg(minor);
}

DeclarationFileCheck checkDeclarationHeader(const QByteArray& head, qint64 fileSize) {
  DeclarationFileCheck c;
  const auto notDeclaration = [&c] {
    c.kind = DeclarationFileCheck::NotDeclaration;
    c.message = QStringLiteral(
        "O arquivo escolhido não é uma declaração do ZIDE: ele não contém um banco de dados.\r\n\r\n"
        "Escolha o arquivo .GDB gravado pelo programa ZIDE-MG.");
    return c;
  };
  // Page 0 is the header page (type 1); its page size is one the engine uses.
  if (head.size() < 128 || fileSize < 1024 || head.at(0) != 1) return notDeclaration();
  const quint16 pageSize = get16(head, 16);
  if (pageSize != 1024 && pageSize != 2048 && pageSize != 4096 && pageSize != 8192 && pageSize != 16384 &&
      pageSize != 32768)
    return notDeclaration();
  const quint16 ods = get16(head, 18);
  c.odsMajor = ods & 0x7FFF;
  // Firebird marks its versions with the high bit; InterBase wrote plain numbers.
  if (!(ods & 0x8000) && (c.odsMajor < 8 || c.odsMajor > 10)) return notDeclaration();
  if (c.odsMajor < 10 || c.odsMajor > 13) {
    c.kind = DeclarationFileCheck::UnknownVersion;
    c.message = QStringLiteral(
                    "O arquivo escolhido foi gravado por %1 (estrutura em disco versão %2), que este computador "
                    "não consegue abrir.\r\n\r\nGrave a declaração de novo com a versão atual do programa ZIDE-MG.")
                    .arg(onDiskVersionName(c.odsMajor))
                    .arg(c.odsMajor);
    return c;
  }
  // The minor version moved when ODS 12 put its CPU/OS/compiler bytes before it.
  c.odsMinor = get16(head, c.odsMajor >= 12 ? 64 : 62);
  // The pages of RDB$PAGES lie inside the file, and the file holds whole pages.
  const quint32 pagesRelation = get32(head, 20);
  if (fileSize % pageSize != 0 || pagesRelation == 0 || qint64(pagesRelation) >= fileSize / pageSize) {
    c.kind = DeclarationFileCheck::Truncated;
    c.message = QStringLiteral(
        "O arquivo escolhido está incompleto (cortado): falta o final do banco de dados.\r\n\r\n"
        "Copie a declaração de novo a partir do original ou grave-a outra vez no programa ZIDE-MG.");
  }
  return c;
}

QString fileInUseMessage(const QString& reason) {
  QString m = QStringLiteral(
      "O arquivo escolhido está sendo usado por outro programa e não pôde ser lido.\r\n\r\n"
      "Feche o programa ZIDE-MG (ou o que estiver usando o arquivo) e escolha o arquivo de novo.");
  if (!reason.isEmpty()) m += QStringLiteral("\r\n\r\n") + reason;
  return m;
}

QString diskFullMessage(const QString& folder) {
  return QStringLiteral(
             "Não há espaço livre suficiente no disco da pasta do programa para preparar a declaração:\r\n%1\r\n\r\n"
             "Libere espaço nesse disco e tente de novo.")
      .arg(QDir::toNativeSeparators(folder));
}

bool isFileInUseError(const QString& e) {
  return e.contains(QLatin1String("lock time-out"), Qt::CaseInsensitive) ||
         e.contains(QLatin1String("already opened"), Qt::CaseInsensitive) ||
         e.contains(QLatin1String("being used by another"), Qt::CaseInsensitive) ||
         e.contains(QLatin1String("Resource temporarily unavailable"), Qt::CaseInsensitive);
}

namespace {
QString unreadableTableText(const QString& table, const QString& e) {
  static const char* const damaged[] = {"I/O error",
                                        "File size is less than expected",
                                        "not a valid database",
                                        "database file appears corrupt",
                                        "wrong page type",
                                        "checksum error",
                                        "page is of wrong type",
                                        "página",
                                        "corromp"};
  if (e.contains(QStringLiteral("mais do que a declaração pode conter")))
    return QStringLiteral(
               "O arquivo escolhido está danificado: a tabela %1 daria mais dados do que a declaração pode conter, "
               "e não foi lida.\r\n\r\n"
               "Copie a declaração de novo a partir do original ou grave-a outra vez no programa ZIDE-MG.")
        .arg(table);
  for (const char* d : damaged)
    if (e.contains(QString::fromUtf8(d), Qt::CaseInsensitive))
      return QStringLiteral(
                 "O arquivo escolhido está danificado ou incompleto: a tabela %1 não pôde ser lida.\r\n\r\n"
                 "Copie a declaração de novo a partir do original ou grave-a outra vez no programa ZIDE-MG.")
          .arg(table);
  if (e.contains(QLatin1String("unsupported on-disk structure"), Qt::CaseInsensitive))
    return QStringLiteral(
        "O arquivo escolhido foi gravado por uma versão do programa que este computador não consegue abrir."
        "\r\n\r\nGrave a declaração de novo com a versão atual do programa ZIDE-MG.");
  return QStringLiteral("Não foi possível ler a tabela %1 do arquivo escolhido.").arg(table);
}
}  // namespace

QString unreadableTableMessage(const QString& table, const QString& e, const QString& generation) {
  QString m = unreadableTableText(table, e);
  if (!generation.isEmpty()) m += QStringLiteral("\r\n\r\nO arquivo foi gravado por %1.").arg(generation);
  return m;
}
