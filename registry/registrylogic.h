#pragma once
#include <QList>
#include <QString>
#include <functional>

#include "net/soap.h"

// The checks of the accountant and taxpayer windows, without the windows (the stores hold the statements).
// Values are the texts the controls show; masked boxes give punctuation and the "_" prompts.

namespace Masks {
// Qt input masks with "_" as the blank, matching the boxes of the registration windows.
inline const QString kCnpj = QStringLiteral("99.999.999/9999-99;_");
inline const QString kCpf = QStringLiteral("999.999.999-99;_");
inline const QString kTelefone = QStringLiteral("(99) 9999-9999;_");
inline const QString kCelular = QStringLiteral("(99) 99999-9999;_");  // nine digits: mobiles
inline const QString kCep = QStringLiteral("99999-999;_");
inline const QString kIE = QStringLiteral("9999999999999;_");
inline const QString kCnae = QStringLiteral("9999-9/99;_");
}  // namespace Masks

// Whether a masked text is fully typed: without the "_" prompts it keeps the whole mask length.
bool MaskCompleto(const QString& maskedText, int fullLength);

// ---- Accountant ----

struct ContadorDados {
  QString cpfCnpj;  // masked text of the document box
  QString crc;
  QString razaoNome;
  QString endereco;
  QString numero;
  QString complemento;
  QString bairro;
  QString cidade;
  QString estado;
  QString telefone;  // masked
  QString cep;       // masked
  QString email;
};

// The twelve parameters of "Transferencia.contador", in order, apostrophes doubled (the request
// builder writes "&", "<" and ">" as entities).
QList<SoapParam> ContadorSoapParams(const ContadorDados& d);
// Leaving the document box: the message for erroMsg, empty when the document passes.
QString ContadorDocumentoSaida(const QString& maskedText, bool cpf);
// The document check of OK: like the leave check, and the document must also be complete.
QString ContadorDocumentoOk(const QString& maskedText, bool cpf);
// The state code followed by "," must occur in the list of the federal units (case-sensitive).
bool ContadorUfAceita(const QString& uf);
// Checks that follow the document check on OK, in order; returns the message of the first that stops
// (empty when all pass). askSemCrc is called when the CRC is blank and says whether to go on without
// it; then d.crc becomes empty.
// A name, "@" and a domain with a dot, no blanks.
bool EmailValido(const QString& email);
QString ContadorCamposErro(ContadorDados& d, const std::function<bool()>& askSemCrc);

// The connection-failure box of the accountant's OK (code 1: local, code 2: the server exchange).
QString FalhaConexaoTexto(int codigo);
// The same box followed by the reason a refusing server gave (nothing more when it is empty).
QString FalhaConexaoTexto(int codigo, const QString& motivo);

// ---- Taxpayers ----

// The state whose registrations the program serves (the IE check of the update window).
inline const QString kUfServida = QStringLiteral("MG");

struct ContribuinteDados {
  QString ie;  // masked text (13 digit positions)
  QString razaoSocial;
  QString cnpj;  // masked
  QString cnae;  // masked
  QString chave;
  QString ccm;
  bool optanteSimples = false;
};

// The company fields every taxpayer check starts with (IE, name, CNPJ, CNAE), also run before a key is
// asked: the text of the first failing check, or empty. checkIeDigits adds the IE check-digit test.
QString companyFieldError(const QString& ie, const QString& razaoSocial, const QString& cnpj, const QString& cnae,
                          bool checkIeDigits = false);
// Steps 2 to 6 of OK in the creation (update=false) and update windows: the text of the first
// failing check, or empty. The IE check-digit test runs only in the update window.
QString ContribuinteCampoErro(const ContribuinteDados& d, bool update);
