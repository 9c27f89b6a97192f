#include <QApplication>
#include <QClipboard>
#include <QVBoxLayout>
#include <QtTest>

#include "gui/widgets/maskedbox.h"
#include "registry/registrylogic.h"

// A masked box as a person uses it: clicking anywhere in it, typing, pasting.
class TstMaskedBox : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    window = std::make_unique<QWidget>();
    box = static_cast<MaskedBox*>(NewMaskedBox(window.get(), "txtCNPJ", Masks::kCnpj));
    other = new QLineEdit(window.get());
    auto* lay = new QVBoxLayout(window.get());
    lay->addWidget(box);
    lay->addWidget(other);
    box->setMinimumWidth(300);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
  }
  void cleanup() { window.reset(); }

  void clickAnywhereThenType_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("x");  // where the click lands, from the left
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    // clang-format off
    QTest::newRow("empty, far right")    << ""        << 290 << "11222333000181" << "11.222.333/0001-81";
    QTest::newRow("empty, middle")       << ""        << 120 << "11222333000181" << "11.222.333/0001-81";
    QTest::newRow("partly, far right")   << "112223"  << 290 << "33000181"       << "11.222.333/0001-81";
    QTest::newRow("partly, at the left") << "112223"  << 2   << "99"             << "99.222.3__/____-__";
    // clang-format on
  }
  void clickAnywhereThenType() {
    QFETCH(QString, before);
    QFETCH(int, x);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    box->setText(before);
    other->setFocus();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(x, box->height() / 2));
    QCoreApplication::processEvents();
    QTest::keyClicks(box, typed);
    QCOMPARE(box->displayText(), shown);
  }

  void telephoneTakesEightOrNineDigits() {
    auto* phone = new MaskedBox(window.get(), "txtTelefone", Masks::kTelefone);
    phone->setLongerMask(Masks::kCelular);
    window->layout()->addWidget(phone);
    phone->setFocus();
    QTest::keyClicks(phone, "3134567800");
    QCOMPARE(phone->displayText(), QString("(31) 3456-7800"));
    // A ninth digit moves to the mobile form, keeping what was typed.
    phone->clear();
    QTest::keyClicks(phone, "31934567800");
    QCOMPARE(phone->displayText(), QString("(31) 93456-7800"));
    // Back to eight digits: leaving the box gives the landline form again.
    QTest::keyClick(phone, Qt::Key_Backspace);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(phone, &out);
    QCOMPARE(phone->displayText(), QString("(31) 9345-6780"));
  }

  void pasteFillsTheMask_data() {
    QTest::addColumn<QString>("clipboard");
    // clang-format off
    QTest::newRow("punctuated") << "11.222.333/0001-81";
    QTest::newRow("digits")     << "11222333000181";
    QTest::newRow("blanks")     << " 11 222 333 0001 81 ";
    // clang-format on
  }
  void pasteFillsTheMask() {
    QFETCH(QString, clipboard);
    QGuiApplication::clipboard()->setText(clipboard);
    other->setFocus();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(250, box->height() / 2));
    QCoreApplication::processEvents();
    QTest::keySequence(box, QKeySequence::Paste);
    QCOMPARE(box->displayText(), QString("11.222.333/0001-81"));
    // Pasting over a full, selected box replaces it.
    QGuiApplication::clipboard()->setText("99.888.777/0001-66");
    box->selectAll();
    QTest::keySequence(box, QKeySequence::Paste);
    QCOMPARE(box->displayText(), QString("99.888.777/0001-66"));
  }

 private:
  std::unique_ptr<QWidget> window;
  MaskedBox* box = nullptr;
  QLineEdit* other = nullptr;
};

QTEST_MAIN(TstMaskedBox)
#include "tst_maskedbox.moc"
