#include "gui/widgets/portuguese.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {
// Words of the file dialog that Qt 6 moved to a context the installed catalogues predate: the
// "Type" column would read "Folder" and "Drive" in an otherwise Portuguese dialog.
class FileTypeWords : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
    static const struct {
      const char* en;
      const char* pt;
    } kWords[] = {{"Folder", "Pasta"}, {"Drive", "Unidade"},   {"File", "Arquivo"},        {"%1 File", "Arquivo %1"},
                  {"Alias", "Atalho"}, {"Shortcut", "Atalho"}, {"Unknown", "Desconhecido"}};
    for (const auto& w : kWords)
      if (qstrcmp(source, w.en) == 0) return QString::fromUtf8(w.pt);
    return {};
  }
};
}  // namespace

int UsePortuguese() {
  const QLocale brasil(QLocale::Portuguese, QLocale::Brazil);
  QLocale::setDefault(brasil);
  // Every module's catalogue (qtbase, qtdeclarative, ...): the meta catalogue qt_pt_BR alone only
  // names them, and a module it leaves out would show English.
  const QDir dir(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  int installed = 0;
  for (const QString& file : dir.entryList({QStringLiteral("*_pt_BR.qm")}, QDir::Files, QDir::Name)) {
    auto* t = new QTranslator(QCoreApplication::instance());
    if (t->load(dir.filePath(file)) && QCoreApplication::installTranslator(t)) ++installed;
    else delete t;
  }
  if (QCoreApplication::installTranslator(new FileTypeWords(QCoreApplication::instance()))) ++installed;
  return installed;
}
