// A "Transferencia.ecnpj" reply as the network delivers it, read as the key retrieval and the
// company import read it: the refusal marker, the server's moment, the Simples flag and the key.
#include "fuzzing.h"
#include "net/soap.h"
#include "registry/accesskey.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString reply = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const RespostaChave r = InterpretarRespostaChave(reply);
  if (reply.contains(QStringLiteral("NAO_AUTORIZADO"))) {
    // A refusal carries nothing else.
    FUZZ_CHECK(r.naoAutorizado && !r.momento && !r.simples && r.chave.isEmpty());
    return 0;
  }
  FUZZ_CHECK(!r.naoAutorizado);
  QString result;
  GetResult(reply, QStringLiteral("return"), &result);
  // Every field is read from the result text at its fixed place.
  FUZZ_CHECK(r.chave.size() <= 8);
  FUZZ_CHECK(r.chave == result.mid(60, 8));
  FUZZ_CHECK(r.simples == (result.size() >= 51 && result.at(50) == QLatin1Char('S')));
  if (r.momento) FUZZ_CHECK(r.momento->isValid() && result.size() >= 21);
  return 0;
}
