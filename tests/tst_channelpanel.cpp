// SPDX-License-Identifier: MIT
// The six channel rows of the form, driven as an operator drives them, without the window: what
// a release shows and asks to send, what it refuses and says, and the boxes themselves.
#include "testwindow.h"
#include "ui/channelpanel.h"
#include "ui/mainwindowform.h"

#include <QtTest>
#include <QtWidgets>

using namespace testwindow;

namespace {

struct Release
{
    int channel;
    QString identifier, min, max;
    int position;
    QString label; // what the value label shows afterwards
    int sentIdentifier; // -1: nothing may be sent
    float sentValue;
    QString status;
};

} // namespace

Q_DECLARE_METATYPE(Release)

class ChannelPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { window.reset(); }
    void release_data();
    void release();
    void rangeFollowsBothBoxes_data();
    void rangeFollowsBothBoxes();
    void boxesHoldOneShortLineOfPlainText();

private:
    MainWindowForm form;
    std::unique_ptr<QMainWindow> window;
    std::unique_ptr<pidtune::ChannelPanel> panel;
    std::unique_ptr<QSignalSpy> released, failed;
};

void ChannelPanelTest::init()
{
    window = std::make_unique<QMainWindow>();
    form.setupUi(window.get());
    panel = std::make_unique<pidtune::ChannelPanel>(form);
    // As the window's slots do.
    for (int n = 1; n <= pidtune::kChannelCount; ++n) {
        const pidtune::ChannelWidgets row = channel(*window, n);
        for (QTextEdit *box : {row.min, row.max})
            connect(box, &QTextEdit::textChanged, panel.get(), [this, n] { panel->applyRange(n); });
        connect(row.slider, &QSlider::sliderReleased, panel.get(),
                [this, n] { panel->release(n); });
    }
    released = std::make_unique<QSignalSpy>(panel.get(), &pidtune::ChannelPanel::released);
    failed = std::make_unique<QSignalSpy>(panel.get(), &pidtune::ChannelPanel::failed);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void ChannelPanelTest::release_data()
{
    QTest::addColumn<Release>("release");
    const int intMin = std::numeric_limits<int>::min();
    const QString notANumber = QStringLiteral("通道 %1 的 %2 不是有效的数字，参数未发送");
    // clang-format off
    QTest::newRow("1.5") << Release {1, "3", "-3", "3", 150000, "       1.5", 3, 1.5f, ""};
    QTest::newRow("0.69999") << Release {2, "44", "0", "0.7", 70000, "   0.69999", 44, 0.69999f, ""};
    QTest::newRow("12.3457") << Release {3, "255", "-1", "20", 1234567, "   12.3457", 255, 12.3457f, ""};
    QTest::newRow("-1.5") << Release {4, "0", "-2", "", -150000, "      -1.5", 0, -1.5f, ""};
    QTest::newRow("0") << Release {5, "7\n", "-", "1", 0, "         0", 7, 0.0f, ""};
    QTest::newRow("1e-05") << Release {6, " 1", "", "1", 1, "     1e-05", 1, 1e-05f, ""};
    QTest::newRow("INT_MIN") << Release {1, "1", "-30000", "-1", intMin, "  -21474.8", 1, -21474.8f, ""};
    QTest::newRow("not enabled") << Release {1, "1", "0", "1", 1, "", -1, 0, ""};
    QTest::newRow("no identifier") << Release {2, "", "0", "1", 1, "", -1, 0, ""};
    QTest::newRow("identifier 256") << Release {3, "256", "0", "1", 50000, "       0.5", -1, 0,
                                                "标识符无效（应为 0-255 的整数），参数未发送"};
    QTest::newRow("Min 0,5") << Release {4, "4", "0,5", "10", 1, "", -1, 0, notANumber.arg(4).arg("Min")};
    QTest::newRow("Min nan") << Release {5, "4", "nan", "10", 1, "", -1, 0, notANumber.arg(5).arg("Min")};
    QTest::newRow("Max -inf") << Release {6, "4", "-10", "-inf", 1, "", -1, 0, notANumber.arg(6).arg("Max")};
    QTest::newRow("Max 1,5 pins the slider") << Release {1, "4", "0", "1,5", 0, "", -1, 0, notANumber.arg(1).arg("Max")};
    QTest::newRow("too wide for a slider") << Release {2, "2", "-30000", "0", 0, "", -1, 0,
                                                       "通道 2 的 Min 与 Max 相差超过 21474.8，滑块无法拖动，参数未发送"};
    QTest::newRow("Min equals Max") << Release {5, "5", "0.5", "0.5", 0, "", -1, 0,
                                                "通道 5 的 Min 不小于 Max，滑块无法拖动，参数未发送"};
    // clang-format on
}

void ChannelPanelTest::release()
{
    QFETCH(Release, release);
    setUpChannel(*window, release.channel, release.identifier, release.min, release.max);
    const pidtune::ChannelWidgets row = channel(*window, release.channel);
    row.enable->setChecked(QTest::currentDataTag() != QLatin1String("not enabled"));
    row.slider->setValue(release.position); // as the keyboard would: nothing sent yet
    QVERIFY(released->isEmpty());
    pressAndRelease(row.slider);

    QCOMPARE(row.value->text(), release.label);
    QCOMPARE(failed->isEmpty() ? QString() : failed->last().at(0).toString(), release.status);
    QCOMPARE(released->size(), release.sentIdentifier < 0 ? 0 : 1);
    if (release.sentIdentifier >= 0) {
        QCOMPARE(released->first().at(0).toInt(), release.sentIdentifier);
        QCOMPARE(released->first().at(1).toFloat(), release.sentValue); // exactly as shown
    }
    for (int other = 1; other <= pidtune::kChannelCount; ++other) {
        if (other != release.channel)
            QCOMPARE(channel(*window, other).value->text(), QString());
    }
}

void ChannelPanelTest::rangeFollowsBothBoxes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("edit"); // keys typed at the end of the box it names, \b Backspace
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    // Max 10 becomes 15 by Backspace and 5: the "1" between must not leave Min at 1.
    QTest::newRow("max 10 to 15") << 1 << "5"
                                  << "10"
                                  << "max:\b5" << 500000 << 1500000;
    QTest::newRow("min -10 to -20") << 2 << "-10"
                                    << "-5"
                                    << "min:\b\b\b-20" << -2000000 << -500000;
    QTest::newRow("min above max") << 3 << "5"
                                   << "1"
                                   << "" << 100000 << 100000;
    QTest::newRow("max below min") << 4 << "0"
                                   << "1"
                                   << "min:\b5" << 100000 << 100000;
    QTest::newRow("0.7 and 1e3") << 5 << "0.7"
                                 << "1e3"
                                 << "" << 69999 << 100000000;
    QTest::newRow("cleared max") << 6 << "-1"
                                 << "2"
                                 << "max:\b" << -100000 << 0;
    // 2^31 - 1 positions are the most a slider holds; one more pins it at 0.
    QTest::newRow("widest") << 1 << "0"
                            << "30000"
                            << "" << 0 << std::numeric_limits<int>::max();
    QTest::newRow("too wide") << 2 << "-0.00002"
                              << "30000"
                              << "" << 0 << 0;
}

void ChannelPanelTest::rangeFollowsBothBoxes()
{
    QFETCH(int, channel);
    QFETCH(QString, min);
    QFETCH(QString, max);
    QFETCH(QString, edit);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    setUpChannel(*window, channel, QStringLiteral("1"), min, max);
    const pidtune::ChannelWidgets row = testwindow::channel(*window, channel);
    QTextEdit *field = edit.startsWith(QLatin1String("min")) ? row.min : row.max;
    QTest::keyClick(field, Qt::Key_End);
    for (const QChar key : edit.mid(4)) {
        if (key == QLatin1Char('\b'))
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, key);
    }
    QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()), qMakePair(minimum, maximum));
    if (minimum == maximum)
        return;
    // Neither end of the slider sends a value outside the boxes.
    dragToEnd(row.slider, false);
    dragToEnd(row.slider, true);
    QCOMPARE(released->size(), 2);
    const auto shown = [](int position) { // to 6 digits, as the value label shows it
        return QString::number(position / 100000.0, 'g', 6).toFloat();
    };
    QCOMPARE(released->at(0).at(1).toFloat(), shown(minimum));
    QCOMPARE(released->at(1).at(1).toFloat(), shown(maximum));
}

void ChannelPanelTest::boxesHoldOneShortLineOfPlainText()
{
    const auto fields = window->findChildren<QTextEdit *>();
    QCOMPARE(fields.size(), 18);
    for (QTextEdit *field : fields) {
        // Copied from a web page: the markup and its image must not come along, and a source
        // that offers HTML only still gives its text.
        for (const bool withText : {true, false}) {
            auto *copied = new QMimeData;
            copied->setHtml(QStringLiteral("<b>8</b><img src=\"x.png\">"));
            if (withText)
                copied->setText(QStringLiteral("8"));
            QGuiApplication::clipboard()->setMimeData(copied);
            field->clear();
            field->paste();
            QCOMPARE(field->toPlainText(), QStringLiteral("8"));
        }
        // Dropped instead of pasted, which the box may refuse.
        QMimeData dragged;
        dragged.setHtml(QStringLiteral("<i>9</i>"));
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton,
                              Qt::NoModifier);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        field->clear();
        QCoreApplication::sendEvent(field->viewport(), &enter);
        QCoreApplication::sendEvent(field->viewport(), &drop);
        QCOMPARE(field->toPlainText(), QStringLiteral("9"));

        // A long number stays on one line instead of wrapping into the next, and once the box
        // is left it shows the number's start, where the sign is.
        field->setPlainText(QStringLiteral("-12.3456789"));
        field->moveCursor(QTextCursor::End);
        QCOMPARE(field->document()->firstBlock().layout()->lineCount(), 1);
        QVERIFY(field->horizontalScrollBar()->value() > 0);
        QFocusEvent left(QEvent::FocusOut);
        QCoreApplication::sendEvent(field, &left);
        QCOMPARE(field->horizontalScrollBar()->value(), 0);

        // A page of digits is cut to what a box keeps, and the operator is told.
        failed->clear();
        field->setPlainText(QString(256, QLatin1Char('9')));
        QVERIFY(failed->isEmpty());
        QGuiApplication::clipboard()->setText(QString(50000, QLatin1Char('9')));
        field->paste();
        QCOMPARE(field->toPlainText().size(), 256);
        QCOMPARE(failed->last().at(0).toString(),
                 QStringLiteral("输入过长：每个框最多 256 个字符，多余部分已删去"));
    }
}

QTEST_MAIN(ChannelPanelTest)
#include "tst_channelpanel.moc"
