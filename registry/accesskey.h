#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The access key of a company: the request to the server and the reading of its reply.

// The certificate the user picked, as the routine checks it.
struct CertificadoEscolhido {
  QByteArray der;
  QString bruto;  // the DER exported as Base64 and decoded back: searched for documents
  QDateTime validoDe;
  QDateTime validoAte;
  bool temCdp = false;  // extension 2.5.29.31 present
};

// The company whose key is asked: the texts of the creation window's boxes (masked ones with their
// punctuation and "_").
struct DadosEmpresa {
  QString ie;
  QString razaoSocial;
  QString cnpj;
  QString cnae;
};

// What the creation window writes into Chave and flag_optantesimples.
struct ChaveObtida {
  QString chave;
  bool simples = false;
};

// A "Transferencia.ecnpj" reply read at its fixed positions.
struct RespostaChave {
  bool naoAutorizado = false;        // "NAO_AUTORIZADO" anywhere in the reply
  std::optional<QDateTime> momento;  // positions 21-39; nullopt when they hold no date
  bool simples = false;              // position 51 is "S"
  QString chave;                     // positions 61-68 (shorter when the text is)
};
RespostaChave InterpretarRespostaChave(const QString& reply);

// Asks the server for a company's key; false when the exchange failed.
bool PedirChave(const QString& ie, const QString& cnpj, QString* reply);

// Whether the moment lies in the certificate's validity, both ends included.
bool DentroDaValidade(const CertificadoEscolhido& c, const QDateTime& momento);

// Text of the creation copy's refusal by the server.
QString TextoNaoAutorizado();
