#include "registry/session.h"

#include "base/usersettings.h"

namespace {
const QString kLastTaxpayerKey = QStringLiteral("contribuinte/ie");
}  // namespace

Session& Session::current() {
  static Session* s = new Session;  // lives as long as the program; windows connect to it freely
  return *s;
}

template <class T>
void Session::set(T& field, const T& value) {
  if (field == value) return;
  field = value;
  emit changed();
}

void Session::selectTaxpayer(const Taxpayer& t) {
  taxpayer_ = t;
  lastSelectedIE_ = t.ie;
  transmittedReferences_.clear();
  transmissionRows_.clear();
  emit taxpayerSelected();
  emit taxpayerChanged();
  emit changed();
}

void Session::clearTaxpayer() {
  if (taxpayer_ == Taxpayer{}) return;
  taxpayer_ = Taxpayer{};
  transmittedReferences_.clear();
  transmissionRows_.clear();
  emit taxpayerChanged();
  emit changed();
}

void Session::rememberSelection() {
  if (!taxpayer_.ie.isEmpty()) WriteUserSetting(kLastTaxpayerKey, taxpayer_.ie);
}

void Session::restoreLastSelection() { lastSelectedIE_ = ReadUserSetting(kLastTaxpayerKey); }

void Session::setSimples(bool simples) { set(taxpayer_.simples, simples); }
void Session::setAccountantDocument(const QString& doc) { set(accountantDocument_, doc); }
void Session::setServerDate(const QDateTime& d) {
  serverDateReadMs_ = QDateTime::currentMSecsSinceEpoch();
  set(serverDate_, d);
}

std::optional<QDateTime> Session::serverNow() const {
  if (!serverDate_.isValid()) return std::nullopt;
  return serverDate_.addMSecs(QDateTime::currentMSecsSinceEpoch() - serverDateReadMs_);
}

void Session::setTransmissionRows(const QList<Transmissions::Row>& rows) {
  transmissionRows_ = rows;
  ++listSerial_;
}
void Session::setWorkingYear(const QString& y) { set(workingYear_, y); }
void Session::setLastDeclarationFile(const QString& path) { set(lastDeclarationFile_, path); }
void Session::setTransmittedReferences(const QStringList& references) { set(transmittedReferences_, references); }

void Session::reset() {
  taxpayer_ = Taxpayer{};
  lastSelectedIE_.clear();
  accountantDocument_.clear();
  serverDate_ = QDateTime();
  workingYear_.clear();
  lastDeclarationFile_.clear();
  transmittedReferences_.clear();
  transmissionRows_.clear();
  emit taxpayerChanged();
  emit changed();
}
