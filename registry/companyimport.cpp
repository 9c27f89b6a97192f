#include "registry/companyimport.h"

#include "registry/localdb.h"
#include "registry/taxpayerstore.h"

namespace CompanyImport {

namespace {
QString linhaNaoImportada(const EmpresaNovaGIA& e, const QString& motivo) {
  return e.razaoSocial.trimmed() + QStringLiteral(" (Inscrição Estadual: ") + e.ie + QStringLiteral("): ") + motivo;
}
}  // namespace

Result Importar(const QList<EmpresaNovaGIA>& empresas, const CertificadoEscolhido& certificado, DbConnection& db) {
  Result rel;
  for (const EmpresaNovaGIA& e : empresas) {
    Linha linha{e, Desfecho::Importada, QString()};
    QString reply;
    if (!PedirChave(e.ie, e.cnpj, &reply)) {
      linha.desfecho = Desfecho::SemResposta;
      rel.linhas.append(linha);
      continue;
    }
    const RespostaChave r = InterpretarRespostaChave(reply);
    if (r.naoAutorizado) linha.desfecho = Desfecho::NaoAutorizada;
    else if (!r.momento) linha.desfecho = Desfecho::SemData;
    else if (!DentroDaValidade(certificado, *r.momento)) linha.desfecho = Desfecho::CertificadoExpirado;
    if (linha.desfecho != Desfecho::Importada) {
      rel.linhas.append(linha);
      if (linha.desfecho == Desfecho::CertificadoExpirado) break;
      continue;
    }
    try {
      if (TaxpayerStore::exists(db, e.ie)) {
        linha.desfecho = Desfecho::JaCadastrada;
      } else {
        ContribuinteDados d;
        d.ie = e.ie;
        d.razaoSocial = e.razaoSocial;
        d.cnpj = e.cnpj;
        d.cnae = e.cnae;
        d.chave = r.chave;
        d.optanteSimples = r.simples;
        TaxpayerStore::insert(db, d);
      }
    } catch (const DbError& err) {
      linha.desfecho = Desfecho::FalhaGravacao;
      linha.motivo = err.description;
    }
    rel.linhas.append(linha);
  }
  return rel;
}

QStringList Result::naoImportadas() const {
  QStringList out;
  for (const Linha& l : linhas) {
    switch (l.desfecho) {
      case Desfecho::Importada:
      case Desfecho::CertificadoExpirado: break;
      case Desfecho::SemResposta:
        out << linhaNaoImportada(l.empresa, QStringLiteral("o servidor não respondeu"));
        break;
      case Desfecho::NaoAutorizada:
        out << linhaNaoImportada(l.empresa, QStringLiteral("não cadastrada nos servidores da Prefeitura"));
        break;
      case Desfecho::SemData:
        out << linhaNaoImportada(l.empresa, QStringLiteral("resposta do servidor sem data"));
        break;
      case Desfecho::JaCadastrada: out << linhaNaoImportada(l.empresa, QStringLiteral("já cadastrada")); break;
      case Desfecho::FalhaGravacao: out << linhaNaoImportada(l.empresa, l.motivo); break;
    }
  }
  return out;
}

QString Mensagem(const Linha& linha) {
  const EmpresaNovaGIA& e = linha.empresa;
  switch (linha.desfecho) {
    case Desfecho::NaoAutorizada:
      return QStringLiteral("Não é possível cadastrar a empresa: \r\n\r\n") + e.razaoSocial +
             QStringLiteral("\r\nInscrição Estadual: ") + e.ie +
             QStringLiteral(
                 "\r\n\r\nEmpresa não está cadastrada nos servidores da Prefeitura.\r\n"
                 "Se a empresa pertencer ao Muncípio, por favor, nos informe imediatamente.");
    case Desfecho::JaCadastrada:
      return QStringLiteral("Empresa já cadastrada anteriormente: \r\n\r\n") + e.razaoSocial +
             QStringLiteral("\r\nInscrição Estadual: ") + e.ie +
             QStringLiteral("\r\n\r\nA empresa não será cadastrada, para não gerar duplicidade");
    case Desfecho::CertificadoExpirado: return QStringLiteral("Certificado expirado, contate seu fornecedor");
    default: return QString();
  }
}

QString Resumo(const Result& result) {
  QString texto = QStringLiteral("Importação Concluída");
  const QStringList falhas = result.naoImportadas();
  if (!falhas.isEmpty())
    texto += QStringLiteral("\r\n\r\nEmpresas não importadas:\r\n") + falhas.join(QStringLiteral("\r\n"));
  return texto;
}

}  // namespace CompanyImport
