// zide-cli enviar: options, the PFX password and the accountant's certificate.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#include <string>

#include "enviar.h"
#include "registry/certsources.h"

const char* const kEnviarUsage =
    "Uso: zide-cli enviar ARQUIVO.GDB --ie IE [--referencias MM/AAAA,...|--todas] [OPÇÕES]\n"
    "     zide-cli enviar ARQUIVO.GDB --todas-as-empresas [OPÇÕES]\n"
    "     zide-cli enviar --simples ARQUIVO.pdf --ie IE [OPÇÕES]\n"
    "\n"
    "Envia declarações como as janelas de transmissão: converte o arquivo uma vez, consulta o servidor,\n"
    "aplica o ano de trabalho e envia a cada empresa só a sua parte, sob a sua chave. Cada envio fica no\n"
    "diário de envios (zide-cli envios).\n"
    "  --ie IE                uma empresa do cadastro local\n"
    "  --todas-as-empresas    toda empresa cadastrada com chave que tenha referências no arquivo\n"
    "  --referencias LISTA    só esses meses (MM/AAAA separados por vírgula), mesmo que já enviados\n"
    "  --todas                todas as referências do arquivo nos anos aceitos, mesmo que já enviadas\n"
    "                         (sem as duas: as dos anos aceitos que a lista do servidor ainda não mostra)\n"
    "  --simples ARQUIVO.pdf  declaração do Simples Nacional de uma empresa (--ie)\n"
    "  --certificado SHA1|ARQUIVO  certificado do contador (SHA-1 de zide-cli certificados, ou .pfx/.pem);\n"
    "                         sem ele, o mais novo que tenha o documento do contador\n"
    "  --senha-arquivo ARQ    senha do .pfx num arquivo que só o dono pode ler (sem terminal);\n"
    "                         com terminal, a senha é pedida sem eco; nunca na linha de comando\n"
    "  --simular              mostra o que seria enviado, por empresa e referência, e não envia nada\n"
    "  --formato texto|json   a tabela final (padrão: texto)\n"
    "\n"
    "O andamento vai para a saída de erros; Ctrl+C para entre dois envios, nunca no meio de um.\n"
    "Não roda ao lado das janelas na mesma pasta de dados.\n"
    "Saída: 0 tudo confirmado; 1 algo recusado, não confirmado ou não enviado; 2 uso incorreto,\n"
    "cadastro incompleto ou programa aberto; 3 arquivo ilegível; 4 servidor inacessível.\n";

namespace {

QStringList monthsOf(const QString& text, bool* ok) {
  static const QRegularExpression month(QStringLiteral("^(0[1-9]|1[0-2])/\\d{4}$"));
  QStringList out;
  *ok = true;
  for (const QString& m : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    *ok = *ok && month.match(m.trimmed()).hasMatch();
    out << m.trimmed();
  }
  *ok = *ok && !out.isEmpty();
  return out;
}

// The option's value into *to; false when it is missing.
bool value(CommandArgs args, size_t* i, QString* to) {
  if (*i + 1 >= args.size()) return false;
  *to = QString::fromUtf8(args[++*i]);
  return !to->isEmpty();
}

int checkCombination(const EnviarOptions& o) {
  if (o.file.isEmpty()) return usageError(kEnviar, "informe o arquivo da declaração.");
  if (o.todasEmpresas == !o.ie.isEmpty()) return usageError(kEnviar, "use --ie IE ou --todas-as-empresas.");
  if (o.simples && o.todasEmpresas) return usageError(kEnviar, "--simples envia a declaração de uma empresa (--ie).");
  if (o.simples && (o.todas || !o.referencias.isEmpty()))
    return usageError(kEnviar, "a declaração do Simples Nacional não tem referências a escolher.");
  if (o.todas && !o.referencias.isEmpty()) return usageError(kEnviar, "use --referencias ou --todas, não ambos.");
  return -1;
}

}  // namespace

int ParseEnviar(CommandArgs args, EnviarOptions* o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    QString v;
    if (isHelpRequest(a)) {
      std::fputs(kEnviarUsage, stdout);
      return kExitOk;
    }
    if (a == "--todas") o->todas = true;
    else if (a == "--todas-as-empresas") o->todasEmpresas = true;
    else if (a == "--simular") o->simular = true;
    else if (a == "--ie" && value(args, &i, &v)) o->ie = v;
    else if (a == "--certificado" && value(args, &i, &v)) o->certificado = v;
    else if (a == "--senha-arquivo" && value(args, &i, &v)) o->senhaArquivo = v;
    else if (a == "--simples" && value(args, &i, &v) && o->file.isEmpty()) {
      o->simples = true;
      o->file = v;
    } else if (a == "--referencias" && value(args, &i, &v)) {
      bool ok = false;
      o->referencias = monthsOf(v, &ok);
      if (!ok) return usageError(kEnviar, "referências no formato MM/AAAA, separadas por vírgula.");
    } else if (a == "--formato" && value(args, &i, &v)) {
      if (v != QLatin1String("texto") && v != QLatin1String("json"))
        return usageError(kEnviar, "formato desconhecido (use texto ou json).");
      o->json = v == QLatin1String("json");
    } else if (a.starts_with("-") && a.size() > 1) {
      return usageError(kEnviar, "opção desconhecida ou sem valor: " + std::string(a) + ".");
    } else if (o->file.isEmpty()) {
      o->file = QString::fromUtf8(args[i]);
    } else {
      return usageError(kEnviar, "argumentos demais.");
    }
  }
  return checkCombination(*o);
}

std::optional<QString> ReadPassword(const QString& senhaArquivo, QString* why) {
  if (!senhaArquivo.isEmpty()) {
    // Another user who can read the file knows the password: such a file is refused.
    struct stat st {};
    const QByteArray path = QFile::encodeName(senhaArquivo);
    if (lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      *why = QStringLiteral("o arquivo de senha %1 precisa ser um arquivo comum que só o dono pode ler (chmod 600).")
                 .arg(senhaArquivo);
      return std::nullopt;
    }
    QFile f(senhaArquivo);
    if (!f.open(QIODevice::ReadOnly)) {
      *why = QStringLiteral("o arquivo de senha não pôde ser lido: %1").arg(f.errorString());
      return std::nullopt;
    }
    return QString::fromUtf8(f.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
  }
  if (!isatty(STDIN_FILENO)) {
    *why = QStringLiteral("sem terminal para pedir a senha do certificado; use --senha-arquivo.");
    return std::nullopt;
  }
  std::fputs("Senha do certificado: ", stderr);
  termios old{};
  tcgetattr(STDIN_FILENO, &old);
  termios quiet = old;
  quiet.c_lflag &= ~tcflag_t(ECHO);
  tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  std::string line;
  for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) line += char(c);
  tcsetattr(STDIN_FILENO, TCSANOW, &old);
  std::fputs("\n", stderr);
  return QString::fromUtf8(line);
}

namespace {

std::optional<CertificateInfo> fromFile(const QString& path, const QString& senhaArquivo, QString* why) {
  QString password;
  if (CertificateStore::isPkcs12(path)) {
    const std::optional<QString> p = ReadPassword(senhaArquivo, why);
    if (!p) return std::nullopt;
    password = *p;
  }
  const CertificateStore::ImportResult r = CertificateStore::importFile(path, password);
  if (r.status == CertificateStore::ImportStatus::Added) return r.certificate;
  *why = r.status == CertificateStore::ImportStatus::WrongPassword
             ? QStringLiteral("senha incorreta para %1.").arg(path)
             : QStringLiteral("o certificado %1 não pôde ser lido: %2").arg(path, r.detail);
  return std::nullopt;
}

}  // namespace

std::optional<CertificateInfo> ChooseCertificate(const EnviarOptions& o, const QString& docContador,
                                                 const QDateTime& serverDate, QString* why) {
  std::optional<CertificateInfo> chosen;
  if (!o.certificado.isEmpty() && QFileInfo(o.certificado).isFile()) {
    if (!(chosen = fromFile(o.certificado, o.senhaArquivo, why))) return std::nullopt;
  } else {
    for (const CertificateInfo& c : CertificateSources::listAll().certificates) {
      const bool named = !o.certificado.isEmpty() && c.thumbprint.compare(o.certificado, Qt::CaseInsensitive) == 0;
      const bool owned = o.certificado.isEmpty() && AcceptedForTransmission(c.der, c.validTo, docContador, {});
      if ((named || owned) && (!chosen || c.validTo > chosen->validTo)) chosen = c;
    }
  }
  if (!chosen) {
    *why = o.certificado.isEmpty()
               ? QStringLiteral("nenhum certificado com o documento do contador (%1) foi encontrado.").arg(docContador)
               : QStringLiteral("o certificado %1 não foi encontrado (veja zide-cli certificados).").arg(o.certificado);
    return std::nullopt;
  }
  if (!AcceptedForTransmission(chosen->der, chosen->validTo, docContador, serverDate)) {
    *why = kCertificadoInvalidoTexto;
    return std::nullopt;
  }
  return chosen;
}
