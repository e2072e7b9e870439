// SPDX-License-Identifier: MIT
#include "tuningpanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

using namespace pidtune::scope;

namespace {

QString number(double value, int precision = 4)
{
    return std::isfinite(value) ? QString::number(value, 'g', precision) : QStringLiteral("—");
}

QString refusalText(Refusal refusal, double fit)
{
    switch (refusal) {
    case Refusal::None:
        break;
    case Refusal::NoControl:
        return TuningPanel::tr("没有一行给出控制器的输出 u（--control 可指定其名称）");
    case Refusal::NoRest:
        return TuningPanel::tr("阶跃前没有数据，不知从何种静止状态开始");
    case Refusal::TooFewLines:
        return TuningPanel::tr("阶跃中少于 10 行");
    case Refusal::BadLine:
        return TuningPanel::tr("阶跃中有缺少 u 或 y、或时间倒退的行");
    case Refusal::UNeverMoved:
        return TuningPanel::tr("u 从未变化");
    case Refusal::YNeverMoved:
        return TuningPanel::tr("y 从未变化");
    case Refusal::TooShort:
        return TuningPanel::tr("阶跃太短，看不出时间常数");
    case Refusal::TooLate:
        return TuningPanel::tr("响应在阶跃中开始得太晚，无法确定纯滞后");
    case Refusal::PoorFit:
        return TuningPanel::tr("模型拟合度 %1 %，低于所需的 %2 %")
            .arg(fit, 0, 'f', 1)
            .arg(kMinimumFit);
    }
    return {};
}

QString figuresText(const StepMetrics &step)
{
    return TuningPanel::tr("上升 %1 秒，超调 %2 %，调节 %3 秒")
        .arg(number(step.rise), number(step.overshoot, 2), number(step.settling));
}

} // namespace

TuningPanel::TuningPanel(const TuningSettings &settings, QWidget *parent)
    : QWidget(parent), settings(settings)
{
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->addWidget(new QLabel(tr("模型（u → y）"), this));
    modelText = new QLabel(tr("（等待阶跃）"), this);
    modelText->setObjectName(QStringLiteral("model"));
    modelText->setWordWrap(true);
    rows->addWidget(modelText);

    auto *taucRow = new QHBoxLayout;
    rows->addLayout(taucRow);
    taucRow->addWidget(new QLabel(tr("更快"), this));
    taucSlider = new QSlider(Qt::Horizontal, this);
    taucSlider->setObjectName(QStringLiteral("tauc"));
    taucSlider->setRange(-20, 20);
    taucSlider->setToolTip(tr("闭环时间常数 τc：向左更快，向右更稳健"));
    taucRow->addWidget(taucSlider, 1);
    taucRow->addWidget(new QLabel(tr("更稳健"), this));
    taucText = new QLabel(this);
    rows->addWidget(taucText);

    rule = new QComboBox(this);
    rule->setObjectName(QStringLiteral("rule"));
    const std::pair<const char *, const char *> rules[] = {
        {"simc-pi", "SIMC PI"},
        {"simc-pid", "SIMC PID"},
        {"zn-pi", "Ziegler–Nichols PI（继电）"},
        {"zn-pid", "Ziegler–Nichols PID（继电）"},
        {"tl-pi", "Tyreus–Luyben PI（继电）"},
        {"tl-pid", "Tyreus–Luyben PID（继电）"},
    };
    for (const auto &[id, name] : rules)
        rule->addItem(QString::fromUtf8(name), QString::fromLatin1(id));
    rule->setCurrentIndex(std::max(0, rule->findData(settings.rule)));
    rows->addWidget(rule);
    suggestionText = new QLabel(this);
    suggestionText->setObjectName(QStringLiteral("suggestion"));
    suggestionText->setWordWrap(true);
    suggestionText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addWidget(suggestionText);
    relayText = new QLabel(this);
    relayText->setObjectName(QStringLiteral("relay"));
    relayText->setWordWrap(true);
    rows->addWidget(relayText);
    checkText = new QLabel(this);
    checkText->setObjectName(QStringLiteral("check"));
    checkText->setWordWrap(true);
    rows->addWidget(checkText);

    connect(taucSlider, &QSlider::valueChanged, this, &TuningPanel::refresh);
    connect(taucSlider, &QSlider::sliderReleased, this, &TuningPanel::choiceChanged);
    connect(rule, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        refresh();
        emit choiceChanged();
    });
    refresh();
}

double TuningPanel::tauc() const
{
    if (!lastModel || lastModel->identification.refusal != Refusal::None)
        return StepMetrics::kNone;
    const double base
        = settings.tauc > 0 ? settings.tauc : defaultTauc(lastModel->identification.model);
    return base * taucFactor(taucSlider->value());
}

void TuningPanel::showModel(const StepModel &model)
{
    lastModel = model;
    refresh();
}

void TuningPanel::showRelay(const RelayTuning &relay)
{
    lastRelay = relay;
    relayText->setText(tr("继电实验：d = %1，a = %2，Tu = %3 秒，Ku = %4（%5 个周期）")
                           .arg(number(relay.cycle.d), number(relay.cycle.a),
                                number(relay.cycle.period), number(relay.ku))
                           .arg(relay.cycle.cycles));
    refresh();
}

void TuningPanel::showCheck(const StepMetrics &measured, const Prediction &predicted,
                            const QString &ruleName)
{
    checkText->setText(tr("t = %1 秒的阶跃（%2）\n预测：%3\n实测：%4")
                           .arg(QString::number(measured.time, 'f', 3), ruleName,
                                figuresText(predicted.figures), figuresText(measured)));
}

std::optional<Suggestion> TuningPanel::chosen() const
{
    const QString id = rule->currentData().toString();
    for (const Suggestion &suggestion : current) {
        if (suggestion.rule == id)
            return suggestion;
    }
    if (lastRelay) {
        for (const Suggestion &suggestion : lastRelay->suggestions) {
            if (suggestion.rule == id)
                return suggestion;
        }
    }
    return std::nullopt;
}

void TuningPanel::refresh()
{
    current.clear();
    if (lastModel) {
        const Identification &found = lastModel->identification;
        if (found.refusal != Refusal::None) {
            modelText->setText(tr("t = %1 秒的阶跃：无模型，%2")
                                   .arg(QString::number(lastModel->step.time, 'f', 3),
                                        refusalText(found.refusal, found.fit)));
        } else {
            modelText->setText(tr("t = %1 秒的阶跃：K = %2，τ = %3 秒，θ = %4 秒，拟合 %5 %")
                                   .arg(QString::number(lastModel->step.time, 'f', 3),
                                        number(found.model.gain), number(found.model.tau),
                                        number(found.model.theta),
                                        QString::number(found.fit, 'f', 1)));
            current = LoopTuner(settings).suggest(*lastModel, tauc());
        }
    }
    const double t = tauc();
    taucText->setText(std::isfinite(t)
                          ? tr("τc = %1 秒（模型默认值的 %2 倍）")
                                .arg(number(t, 3), number(taucFactor(taucSlider->value()), 3))
                          : tr("τc：需要一个模型"));
    const std::optional<Suggestion> suggestion = chosen();
    if (!suggestion) {
        suggestionText->setText(rule->currentData().toString().startsWith(QLatin1String("simc"))
                                    ? tr("需要一次阶跃的模型")
                                    : tr("需要一次继电实验的极限环"));
        return;
    }
    QString text = gainsText(suggestion->pid, settings.form);
    if (suggestion->prediction) {
        const Prediction &p = *suggestion->prediction;
        text += QLatin1Char('\n')
            + tr("预测：%1\nMs %2，u 至多变化 %3")
                  .arg(figuresText(p.figures), number(p.sensitivity, 3), number(p.outputSwing));
    }
    suggestionText->setText(text);
}
