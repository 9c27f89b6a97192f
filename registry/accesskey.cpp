#include "registry/accesskey.h"

#include "net/soap.h"
#include "registry/serverreply.h"

RespostaChave InterpretarRespostaChave(const QString& reply) {
  RespostaChave r;
  if (reply.contains(QStringLiteral("NAO_AUTORIZADO"))) {
    r.naoAutorizado = true;
    return r;
  }
  QString texto;
  GetResult(reply, QStringLiteral("return"), &texto);
  r.momento = Transmissions::ParseServerDate(Transmissions::Field(texto, 21, 39));
  r.simples = Transmissions::Field(texto, 51, 51) == QLatin1String("S");
  r.chave = Transmissions::Field(texto, 61, 68);
  return r;
}

bool PedirChave(const QString& ie, const QString& cnpj, QString* reply) {
  return SendSoapRequest(QStringLiteral("Transferencia.ecnpj"),
                         {{QStringLiteral("ie"), ie},
                          {QStringLiteral("cnpj"), cnpj},
                          {QStringLiteral("key"), QStringLiteral("!QORTENBAL!")}},
                         reply);
}

bool DentroDaValidade(const CertificadoEscolhido& c, const QDateTime& momento) {
  return c.validoDe <= momento && momento <= c.validoAte;
}

QString TextoNaoAutorizado() {
  return QStringLiteral(
      "Atenção, não foi encontrado cadastro para as informações preenchidas.\r\n\r\n"
      "Solicitamos entrar em contato por E-MAIL com o suporte, informando: CNPJ, IE e CNAE do contribuinte.");
}
