#pragma once
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <optional>

// The sandbox's records, in one SQLite file (tables described in README.md).
struct Contribuinte {
  QString ie;
  QString chave;
  QString cnpj;
  bool simples = false;
};

struct Transmissao {
  qint64 id = 0;
  QString protocolo;
  QString ie;
  QString referencia;
  QString data;  // dd/MM/yyyy HH:mm:ss
  int status = 1;
  QString adicionado;
  QString tipo;  // ZIDE or SIMPLES
  QString contador;
  QString gia;
  QString arquivo;
  qint64 tamanho = 0;
  QString mensagem;
  QString sha1;  // of the file part's bytes, lower-case hex
};

class SandboxData {
 public:
  // Opens (creating when missing) the file and its tables; false with *error on failure.
  bool open(const QString& path, QString* error);

  void putContribuinte(const Contribuinte& c);
  std::optional<Contribuinte> contribuinteByIe(const QString& ie) const;
  std::optional<Contribuinte> contribuinteByChave(const QString& chave) const;

  // Stores the transmission and gives it its protocol number; nullopt when the file refused it.
  std::optional<Transmissao> addTransmissao(Transmissao t);
  QList<Transmissao> transmissoes(const QString& ie) const;
  // The row count of each table of an accepted declaration file, by the file's SHA-1.
  bool addTableCounts(const QString& sha1, const QMap<QString, qint64>& counts);
  std::optional<Transmissao> transmissaoByProtocolo(const QString& protocolo) const;

  void addContadorCall(const QList<QPair<QString, QString>>& params);
  void logRequest(const QString& method, const QString& target, const QString& soapAction, const QString& contentType,
                  qint64 size, const QString& operation, int status);

  static QString normalizeIe(const QString& ie);
  static QString digits(const QString& text);

 private:
  QSqlDatabase db_;
};
