// SPDX-License-Identifier: MIT
#include "app/mainwindow.h"
#include "ui/mainwindowform.h"

#include <QtTest>
#include <QtWidgets>

namespace {

struct ExpectedWidget
{
    QString name;
    QByteArray className;
    QRect geometry;
    QString text;
};

// The panel's widgets in the order they are created, which is also the keyboard focus order.
QList<ExpectedWidget> expectedPanel()
{
    const QString id = QStringLiteral("标识符:"), enable = QStringLiteral("使能");
    QList<ExpectedWidget> panel;
    for (int n = 1; n <= 6; ++n) {
        const int y = 80 + 40 * (n - 1);
        const auto name = [n](const char *pattern) {
            return QString::fromLatin1(pattern).arg(n);
        };
        const auto caption = [](int number) {
            return QStringLiteral("label_%1").arg(number);
        };
        const ExpectedWidget idCaption {caption(n == 1 ? 2 : 3 * n), "QLabel", {20, y, 41, 31}, id};
        const ExpectedWidget minCaption {
            caption(n == 1 ? 3 : 3 * n + 1), "QLabel", {130, y, 21, 31}, QStringLiteral("Min:")};
        const ExpectedWidget maxCaption {
            caption(n == 1 ? 4 : 3 * n - 1), "QLabel", {620, y, 31, 31}, QStringLiteral("Max:")};
        const ExpectedWidget identifier {
            name("data_%1_Type_Flag_TextEdit"), "QTextEdit", {70, y, 51, 31}, {}};
        const ExpectedWidget min {name("data_%1_Min_TextEdit"), "QTextEdit", {160, y, 41, 31}, {}};
        const ExpectedWidget slider {
            name("data_%1_value_Qslider"), "QSlider", {210, y, 401, 31}, {}};
        const ExpectedWidget max {name("data_%1_Max_TextEdit"), "QTextEdit", {650, y, 41, 31}, {}};
        const ExpectedWidget value {name("data_%1_value_QLabel"), "QLabel", {710, y, 81, 31}, {}};
        const ExpectedWidget box {
            name("data_%1_enable_CheckBox"), "QCheckBox", {800, y, 51, 31}, enable};
        if (n == 1) {
            panel << slider
                  << ExpectedWidget {"label", "QLabel", {20, 20, 41, 21}, QStringLiteral("串口号:")}
                  << ExpectedWidget {"openButton",
                                     "QPushButton",
                                     {160, 12, 91, 31},
                                     QStringLiteral("打开串口")}
                  << idCaption << identifier << box << value << minCaption << min << max
                  << maxCaption;
        } else {
            panel << maxCaption << slider << idCaption << value << minCaption << min << identifier
                  << box << max;
        }
    }
    panel << ExpectedWidget {"Port_Number_comboBox", "QComboBox", {70, 20, 81, 21}, {}};
    return panel;
}

QStringList creationOrder()
{
    QStringList names {QStringLiteral("centralWidget")};
    for (const ExpectedWidget &w : expectedPanel())
        names << w.name;
    names << QStringLiteral("menuBar") << QStringLiteral("mainToolBar")
          << QStringLiteral("statusBar");
    return names;
}

QString textOf(const QWidget *w)
{
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *edit = qobject_cast<const QTextEdit *>(w))
        return edit->toPlainText();
    return QString();
}

QStringList collectedWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        collectedWarnings << message;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void panelWidget_data();
    void panelWidget();
    void mainWindowParts();
    void initialState();
    void presetObjectNameIsKept();
    void focusChainFollowsCreationOrder();
    void slotTable();
    void metacast();
    void constructionIsSilent();
    void eachSignalReachesExactlyItsSlot();
    void windowIsFixedSize();
    void closingEndsTheEventLoopWithZero();
};

void MainWindowTest::panelWidget_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    for (const ExpectedWidget &w : expectedPanel())
        QTest::newRow(qPrintable(w.name)) << w.name << w.className << w.geometry << w.text;
}

void MainWindowTest::panelWidget()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    MainWindow window;
    const auto matches = window.findChildren<QWidget *>(name);
    QCOMPARE(matches.size(), 1);
    const QWidget *w = matches.first();
    QCOMPARE(QByteArray(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget(), window.centralWidget());
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(textOf(w), text);
}

void MainWindowTest::mainWindowParts()
{
    MainWindow window;
    QWidget *central = window.centralWidget();
    QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(central->minimumSize(), QSize(877, 336));
    QCOMPARE(central->maximumSize(), QSize(877, 336));
    QCOMPARE(central->sizeIncrement(), QSize(877, 336));
    QCOMPARE(central->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(central->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(central->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    // 57 panel widgets are direct children of the central widget.
    QCOMPARE(central->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly).size(), 57);

    QCOMPARE(window.menuBar()->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(window.menuBar()->geometry(), QRect(0, 0, 877, 23));
    QVERIFY(window.menuBar()->actions().isEmpty());
    auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(toolBar);
    QCOMPARE(toolBar->parentWidget(), &window);
    QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(toolBar->actions().isEmpty());
    QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusBar"));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
}

void MainWindowTest::initialState()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("PID控制"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QVERIFY(!window.connection());
    const auto sliders = window.findChildren<QSlider *>();
    QCOMPARE(sliders.size(), 6);
    for (const QSlider *slider : sliders) {
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 20000);
        QCOMPARE(slider->value(), 0);
    }
    for (const QCheckBox *box : window.findChildren<QCheckBox *>())
        QVERIFY(!box->isChecked());
    QCOMPARE(window.findChildren<QTextEdit *>().size(), 18);
}

void MainWindowTest::presetObjectNameIsKept()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("preset"));
    MainWindowForm form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("preset"));

    QMainWindow unnamed;
    MainWindowForm other;
    other.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QStringLiteral("MainWindow"));
    // The form leaves the selector empty; the window lists the ports afterwards.
    QCOMPARE(other.Port_Number_comboBox->count(), 0);
}

void MainWindowTest::focusChainFollowsCreationOrder()
{
    MainWindow window;
    const QStringList expected = creationOrder();
    QStringList chain;
    QWidget *w = &window;
    do {
        w = w->nextInFocusChain();
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
    } while (w != &window);
    QCOMPARE(chain, expected);
}

void MainWindowTest::slotTable()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.className(), "MainWindow");
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
    QCOMPARE(meta.constructorCount(), 0);

    const QList<QByteArray> table = {
        "on_openButton_clicked()",
        "Read_Data()",
        "on_data_1_Min_TextEdit_textChanged()",
        "on_data_1_Max_TextEdit_textChanged()",
        "on_data_1_value_Qslider_sliderReleased()",
        "on_data_2_Min_TextEdit_textChanged()",
        "on_data_2_Max_TextEdit_textChanged()",
        "on_data_2_value_Qslider_sliderReleased()",
        "on_data_3_Min_TextEdit_textChanged()",
        "on_data_3_value_Qslider_sliderReleased()",
        "on_data_3_Max_TextEdit_textChanged()",
        "on_data_4_Min_TextEdit_textChanged()",
        "on_data_5_Min_TextEdit_textChanged()",
        "on_data_6_Min_TextEdit_textChanged()",
        "on_data_4_value_Qslider_sliderReleased()",
        "on_data_5_value_Qslider_sliderReleased()",
        "on_data_6_value_Qslider_sliderReleased()",
        "on_data_5_Max_TextEdit_textChanged()",
        "on_data_4_Max_TextEdit_textChanged()",
        "on_data_6_Max_TextEdit_textChanged()",
    };
    QCOMPARE(meta.methodCount() - meta.methodOffset(), table.size());
    for (int i = 0; i < table.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), table[i]);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterCount(), 0);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
        QCOMPARE(method.tag(), "");
    }
}

void MainWindowTest::metacast()
{
    MainWindow window;
    QCOMPARE(window.qt_metacast("MainWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"),
             static_cast<void *>(static_cast<QMainWindow *>(&window)));
    QCOMPARE(window.qt_metacast("QWidget"), static_cast<void *>(static_cast<QWidget *>(&window)));
    QCOMPARE(window.qt_metacast("QDialog"), nullptr);
    QCOMPARE(window.qt_metacast(nullptr), nullptr);
}

void MainWindowTest::constructionIsSilent()
{
    // connectSlotsByName warns about any slot whose name matches no child: any warning fails.
    collectedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    {
        MainWindow window;
    }
    qInstallMessageHandler(previous);
    QCOMPARE(collectedWarnings, QStringList());
}

void MainWindowTest::eachSignalReachesExactlyItsSlot()
{
    MainWindow window;
    const QMetaObject &meta = MainWindow::staticMetaObject;
    struct Wire
    {
        QString object;
        const char *signal;
    };
    QList<Wire> wires {{QStringLiteral("openButton"), "clicked()"}};
    for (int n = 1; n <= 6; ++n) {
        wires.append({QStringLiteral("data_%1_Min_TextEdit").arg(n), "textChanged()"});
        wires.append({QStringLiteral("data_%1_Max_TextEdit").arg(n), "textChanged()"});
        wires.append({QStringLiteral("data_%1_value_Qslider").arg(n), "sliderReleased()"});
    }
    QCOMPARE(wires.size(), 19);

    for (const Wire &wire : wires) {
        QObject *sender = window.findChild<QObject *>(wire.object);
        QVERIFY2(sender, qPrintable(wire.object));
        const QMetaMethod signal
            = sender->metaObject()->method(sender->metaObject()->indexOfSignal(wire.signal));
        const QByteArray expectedSlot
            = "on_" + wire.object.toLatin1() + '_' + QByteArray(wire.signal).chopped(2) + "()";
        // disconnect() reports whether a connection existed: probe every other slot first, then
        // take down the one connection that must be there, and find no second one behind it.
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod slot = meta.method(i);
            if (slot.methodSignature() != expectedSlot)
                QVERIFY2(!QObject::disconnect(sender, signal, &window, slot),
                         qPrintable(wire.object + QLatin1String(" -> ") + slot.name()));
        }
        const QMetaMethod slot = meta.method(meta.indexOfSlot(expectedSlot.constData()));
        QVERIFY2(QObject::disconnect(sender, signal, &window, slot), expectedSlot.constData());
        QVERIFY2(!QObject::disconnect(sender, signal, &window, slot), expectedSlot.constData());
    }
}

void MainWindowTest::windowIsFixedSize()
{
    MainWindow window;
    QCOMPARE(window.size(), QSize(877, 393));
    QCOMPARE(window.minimumSize(), QSize(877, 393));
    QCOMPARE(window.maximumSize(), QSize(877, 393));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
}

void MainWindowTest::closingEndsTheEventLoopWithZero()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, &window, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
