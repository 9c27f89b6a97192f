// Documents typed by the user or read from files: CPF, CNPJ and the state registration of a unit.
// Input: the state code on the first line, the document after it.
#include <string>
#include <string_view>

#include "fuzzing.h"
#include "validation/validators.h"

namespace {
std::string digitsOf(std::string_view s) {
  std::string d;
  for (char c : s)
    if (c >= '0' && c <= '9') d.push_back(c);
  return d;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::quietQt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QByteArray ufBytes, docBytes;
  fuzzing::splitFirstLine(fuzzing::bytes(data, size), &ufBytes, &docBytes);
  const std::string_view uf(ufBytes.constData(), size_t(ufBytes.size()));
  const std::string_view doc(docBytes.constData(), size_t(docBytes.size()));
  const std::string digits = digitsOf(doc);

  const bool cpf = CPFValida(doc);
  const bool cnpj = CNPJValida(doc);
  const bool ie = IEValida(doc, uf);
  // Only the ASCII digits count: the same digits without anything else give the same answer.
  FUZZ_CHECK(cpf == CPFValida(std::string_view(digits)));
  FUZZ_CHECK(cnpj == CNPJValida(std::string_view(digits)));
  // RO counts positions in characters and SP reads a leading "P": there the text itself matters.
  if (uf != "RO" && uf != "SP") FUZZ_CHECK(ie == IEValida(std::string_view(digits), uf));
  // A unit without a rule is exempt.
  if (!IEUnidadeConhecida(uf)) FUZZ_CHECK(ie);
  // The QString forms agree (an invalid UTF-8 byte becomes a replacement character, never a digit).
  const QString qdoc = QString::fromUtf8(docBytes), quf = QString::fromUtf8(ufBytes);
  FUZZ_CHECK(CPFValida(qdoc) == cpf);
  FUZZ_CHECK(CNPJValida(qdoc) == cnpj);
  // RO counts characters of the text, which only a valid UTF-8 input keeps through the conversion.
  if (quf.toUtf8() == ufBytes && qdoc.toUtf8() == docBytes) FUZZ_CHECK(IEValida(qdoc, quf) == ie);
  return 0;
}
