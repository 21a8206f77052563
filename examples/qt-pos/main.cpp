// A small cash-register window built on the Qt front: the control placed on the window, an
// amount, Pay, Properties... and About... buttons, and a result area.
//
//   qt-pos                      pays on the terminal the control's CommPort maps to
//   qt-pos --demo               pays against the bundled terminal simulator on a pseudo-terminal
//   qt-pos --demo --auto-pay    pays once at start and exits: 0 when the payment was approved
//   options: --amount 8DIGITS (default 00001500), --think MS (the simulator's thinking time)
#include <QApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "korvelcom/CardData.h"
#include "korvelcom/platform/Endpoint.h"
#include "qt/KorvelComToolsWidget.h"
#include "qt/QtPlatform.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"

namespace {

using korvel::KorvelComTools;
using korvel::qt::KorvelComToolsWidget;

struct Options {
    bool demo = false;
    bool autoPay = false;
    std::string amount = "00001500";
    int think = 800;
};

bool parse(const QStringList& args, Options& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--demo") {
            o.demo = true;
        } else if (a == "--auto-pay") {
            o.autoPay = true;
        } else if (a == "--amount" && i + 1 < args.size()) {
            o.amount = args[++i].toStdString();
        } else if (a == "--think" && i + 1 < args.size()) {
            o.think = args[++i].toInt();
        } else {
            return false;
        }
    }
    return true;
}

/// What the status character of a payment reply means.
QString statusText(const std::string& status) {
    if (status == "0") return "approved";
    if (status == "1") return "refused by the card issuer";
    if (status == "2") return "card unreadable";
    if (status == "9") return "request malformed";
    return QString("status \"%1\"").arg(QString::fromStdString(status));
}

class CashRegister : public QWidget {
  public:
    explicit CashRegister(const Options& options) {
        setWindowTitle("KorvelCom cash register");
        terminal_ = new KorvelComToolsWidget(this);
        auto* title = new QLabel(QString("<b>Cash register</b><br>KorvelComTools %1")
                                     .arg(QString::fromStdString(control().Version())),
                                 this);

        amount_ = new QLineEdit(QString::fromStdString(options.amount), this);
        amount_->setObjectName("amount");
        amount_->setMaxLength(8);
        amount_->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[0-9]{0,8}"), amount_));
        amount_->setToolTip("Amount in the currency's smallest unit, eight digits");
        pay_ = new QPushButton("&Pay", this);
        pay_->setObjectName("pay");
        pay_->setDefault(true);
        auto* properties = new QPushButton("P&roperties...", this);
        auto* about = new QPushButton("&About...", this);
        status_ = new QLabel("Ready.", this);
        status_->setObjectName("status");
        log_ = new QPlainTextEdit(this);
        log_->setReadOnly(true);
        log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        log_->setMinimumSize(560, 200);

        auto* top = new QHBoxLayout;
        top->addWidget(terminal_);
        top->addWidget(title, 1);
        auto* sale = new QGroupBox("Sale", this);
        auto* saleGrid = new QGridLayout(sale);
        saleGrid->addWidget(new QLabel("Amount (cents):", sale), 0, 0);
        saleGrid->addWidget(amount_, 0, 1);
        saleGrid->addWidget(pay_, 0, 2);
        saleGrid->setColumnStretch(3, 1);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(properties);
        buttons->addWidget(about);
        auto* page = new QVBoxLayout(this);
        page->addLayout(top);
        page->addWidget(sale);
        page->addWidget(status_);
        page->addWidget(log_, 1);
        page->addLayout(buttons);

        connect(pay_, &QPushButton::clicked, this, [this] { pay(); });
        connect(properties, &QPushButton::clicked, terminal_,
                &KorvelComToolsWidget::showProperties);
        connect(about, &QPushButton::clicked, this, [this] { control().ShowAbout(); });
        connect(terminal_, &KorvelComToolsWidget::ReceivedEvent, this,
                [this] { note("ReceivedEvent"); });
        connect(terminal_, &KorvelComToolsWidget::ErrorEvent, this,
                [this](QString& tag) { note("ErrorEvent: " + tag); });
        connect(terminal_, &KorvelComToolsWidget::AbortEnabledEvent, this,
                [this] { note("AbortEnabledEvent"); });
    }

    KorvelComTools& control() { return terminal_->control(); }

    // Everything the example shows passes the card-data mask.
    void note(const QString& raw) {
        const std::string line = korvel::cardDataForDisplay(raw.toStdString());
        log_->appendPlainText(QString::fromStdString(line));
        std::cout << line << std::endl;
    }

    /// One payment of the amount shown; returns whether it was approved.
    bool pay() {
        KorvelComTools& c = control();
        c.setReceiveError("");
        c.setPOSAmount(amount_->text().toStdString());
        if (!c.ReceiveError().empty()) {
            status_->setText("The amount needs eight digits.");
            note("amount refused: " + QString::fromStdString(c.ReceiveError()));
            return false;
        }
        pay_->setEnabled(false);
        amount_->setEnabled(false);
        status_->setText("Waiting for the terminal... (Escape aborts)");
        note(QString("paying %1 (currency %2)")
                 .arg(QString::fromStdString(c.POSAmount()), QString::fromStdString(c.POSDev())));
        // The control's wait yields to Qt's loop: the window stays live meanwhile.
        const std::string reply = c.POSMessage();
        pay_->setEnabled(true);
        amount_->setEnabled(true);

        if (reply.empty()) {
            const std::string error = c.ReceiveError();
            const QString why = error.empty() ? "no reply (time-out or Escape)"
                                              : "failed: " + QString::fromStdString(error);
            status_->setText("Payment " + why);
            note("payment " + why);
            return false;
        }
        const QString outcome = statusText(c.EFTposStat());
        note("reply: " + QString::fromStdString(reply).trimmed());
        note(QString("EFTposStat %1  EFTposAmount %2  EFTposMode %3  EFTposDev %4")
                 .arg(QString::fromStdString(c.EFTposStat()),
                      QString::fromStdString(c.EFTposAmount()),
                      QString::fromStdString(c.EFTposMode()),
                      QString::fromStdString(c.EFTposDev())));
        note("payment " + outcome);
        status_->setText("Payment " + outcome + ".");
        return c.EFTposStat() == "0";
    }

  private:
    KorvelComToolsWidget* terminal_ = nullptr;
    QLineEdit* amount_ = nullptr;
    QPushButton* pay_ = nullptr;
    QLabel* status_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Options options;
    if (!parse(QApplication::arguments(), options)) {
        std::cerr << "usage: qt-pos [--demo] [--auto-pay] [--amount 8DIGITS] [--think MS]\n";
        return 2;
    }

    // The simulated terminal lives on the application's loop, so it answers from inside the
    // control's waits as well as while the window sits idle.
    std::unique_ptr<korvel::sim::PtyPort> pty;
    std::unique_ptr<korvel::sim::Terminal> terminal;
    auto& loop = korvel::qt::QtPlatform::shared().loop();
    if (options.demo) {
        pty = std::make_unique<korvel::sim::PtyPort>(loop);
        korvel::sim::TerminalOptions simOptions;
        simOptions.processingDelayMs = options.think;
        terminal = std::make_unique<korvel::sim::Terminal>(loop, *pty, simOptions);
        terminal->setResponder(korvel::sim::paymentReply);
    }

    CashRegister window(options);
    if (pty) {
        korvel::PortMap::set(window.control().CommPort(), pty->slavePath());
        window.note("simulated terminal on " + QString::fromStdString(pty->slavePath()));
    }
    window.show();
    if (options.autoPay) {
        QTimer::singleShot(0, &window, [&] { QApplication::exit(window.pay() ? 0 : 1); });
    }
    return QApplication::exec();
}
