#pragma once
#include <QList>
#include <QString>

#include "registry/accesskey.h"
#include "registry/novagia.h"

class DbConnection;

// The company import without its window: one key request and one insert per company of a NovaGIA
// export, and a report of what became of each, which the window shows.
namespace CompanyImport {

enum class Desfecho {
  Importada,
  SemResposta,          // the exchange failed
  NaoAutorizada,        // the server does not know the company
  SemData,              // a reply without the server's date
  CertificadoExpirado,  // the reply's moment lies outside the certificate: the import stops here
  JaCadastrada,         // the IE is in the registry already
  FalhaGravacao,        // the insert failed; motivo holds the database's text
};

struct Linha {
  EmpresaNovaGIA empresa;
  Desfecho desfecho = Desfecho::Importada;
  QString motivo;
};

struct Result {
  QList<Linha> linhas;  // in file order, up to the company that stopped the import
  bool interrompida() const { return !linhas.isEmpty() && linhas.last().desfecho == Desfecho::CertificadoExpirado; }
  // One line per company that did not come in and why, for the closing summary (the company that
  // met the expired certificate is told by its own message).
  QStringList naoImportadas() const;
};

// Asks each company's key with the certificate's validity as the limit and stores the company,
// with the Simples Nacional flag the reply carries. Companies already stored are left alone.
Result Importar(const QList<EmpresaNovaGIA>& empresas, const CertificadoEscolhido& certificado, DbConnection& db);

// The message box a company's outcome gives while the report is shown; empty when it gives none.
QString Mensagem(const Linha& linha);
// The closing message: "Importação Concluída" and the companies that did not come in.
QString Resumo(const Result& result);

}  // namespace CompanyImport
