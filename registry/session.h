#pragma once
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

#include "registry/serverreply.h"

// What the windows share while the program runs: the selected taxpayer, the accountant's document,
// what the server said last, the declaration file last chosen. Windows read and write it here and
// never reach into each other's widgets; the main window listens to its signals.
class Session : public QObject {
  Q_OBJECT
 public:
  struct Taxpayer {
    QString ie;
    QString razaoSocial;
    QString chave;
    bool simples = false;
    bool operator==(const Taxpayer&) const = default;
  };

  static Session& current();

  const Taxpayer& taxpayer() const { return taxpayer_; }
  // A taxpayer chosen in the selection window: emits taxpayerSelected, then taxpayerChanged.
  void selectTaxpayer(const Taxpayer& t);
  // The refresh forgets a taxpayer whose key the server refused.
  void clearTaxpayer();
  // The IE chosen last, kept when the selection is cleared; the selection list opens on it.
  QString lastSelectedIE() const { return lastSelectedIE_; }
  // Keeps the selected taxpayer's IE in the user's settings for the next run.
  void rememberSelection();
  // At start: the IE an earlier run remembered.
  void restoreLastSelection();
  // The regime read when transmitting, kept with the selection.
  void setSimples(bool simples);

  QString accountantDocument() const { return accountantDocument_; }
  void setAccountantDocument(const QString& doc);

  QDateTime serverDate() const { return serverDate_; }
  void setServerDate(const QDateTime& d);

  // The year or years the server accepts ("2026/2027").
  QString workingYear() const { return workingYear_; }
  void setWorkingYear(const QString& y);

  QString lastDeclarationFile() const { return lastDeclarationFile_; }
  void setLastDeclarationFile(const QString& path);

  // The references of the selected taxpayer's transmissions, as the last refresh listed them
  // ("MM/aaaa"); emptied when the taxpayer changes.
  QStringList transmittedReferences() const { return transmittedReferences_; }
  void setTransmittedReferences(const QStringList& references);
  // The rows the last refresh listed, and how many lists have been read since the start (a send
  // compares the list before and after it).
  const QList<Transmissions::Row>& transmissionRows() const { return transmissionRows_; }
  quint64 listSerial() const { return listSerial_; }
  void setTransmissionRows(const QList<Transmissions::Row>& rows);
  // The server's clock now: its last date plus the time gone since it was read; nullopt before any.
  std::optional<QDateTime> serverNow() const;

  // Asks whoever shows the history (the main window) to fetch it again.
  void requestRefresh() { emit refreshRequested(); }
  // A window that held the main window disabled is done with it.
  void releaseMainWindow() { emit mainWindowReleased(); }

  // Back to the state of a fresh start (tests, and the end of the program).
  void reset();

 signals:
  void changed();
  void taxpayerChanged();
  void taxpayerSelected();
  void refreshRequested();
  void mainWindowReleased();

 private:
  Session() = default;
  template <class T>
  void set(T& field, const T& value);

  Taxpayer taxpayer_;
  QString lastSelectedIE_;
  QString accountantDocument_;
  QDateTime serverDate_;
  QString workingYear_;
  QString lastDeclarationFile_;
  QStringList transmittedReferences_;
  QList<Transmissions::Row> transmissionRows_;
  quint64 listSerial_ = 0;
  qint64 serverDateReadMs_ = 0;
};
