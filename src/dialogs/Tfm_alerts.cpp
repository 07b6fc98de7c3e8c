#include "dialogs/Tfm_alerts.h"

#include "controls/FormScale.h"
#include "controls/TCBitBtn.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"
#include "controls/g_updown.h"
#include "controls/tbevel_ex.h"

#include <QKeyEvent>
#include <QVector>
#include <tuple>
#include <utility>

using alerts::AlertSettings;
using alerts::Limits;

namespace {

// Client size at 96 dots per inch.
constexpr int ClientWidth = 328;
constexpr int ClientHeight = 360;

// Column of the edits, and of the words after their spin buttons.
constexpr int EditLeft = 140;
constexpr int EditWidth = 49;
constexpr int UnitLeft = 208;

} // namespace

Tfm_alerts::Tfm_alerts(QWidget* owner) : TForm(owner) {
    setWindowTitle(QStringLiteral("Alerts"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont(font()));
    SetPosition(TPosition::poScreenCenter);

    tbevel_ex1 = new tbevel_ex(this);
    tbevel_ex1->SetBorderWidth(0);
    tbevel_ex1->SetBorderHeight(0);

    auto label = [this](const char* caption) {
        auto* l = new g_label3d(this);
        l->SetTipo3D(T3D::normal);
        l->SetCaption(QString::fromUtf8(caption));
        return l;
    };
    auto number = [this](int low, int high) {
        auto* edit = new g_edit(this);
        auto* spin = new g_updown(this);
        spin->SetThousands(false);
        spin->SetMin(low);
        spin->SetMax(high);
        spin->SetWrap(false);
        spin->SetAssociate(edit);
        edit->setMaxLength(QString::number(high).size());
        return std::pair{edit, spin};
    };

    lb_fails = label("&Down after");
    std::tie(ed_fails, ud_fails) = number(1, AlertSettings::MaxFailures);
    lb_failsUnit = label("failed runs in a row");
    lb_answers = label("&Up again after");
    std::tie(ed_answers, ud_answers) = number(1, AlertSettings::MaxAnswers);
    lb_answersUnit = label("answering runs in a row");
    lb_degraded = label("Degraded while it answers, but");
    lb_rtt = label("&Round trip over");
    std::tie(ed_rtt, ud_rtt) = number(0, AlertSettings::MaxRttLimitMs);
    lb_rttUnit = label("ms (0: off)");
    lb_base = label("or &over");
    std::tie(ed_base, ud_base) = number(0, AlertSettings::MaxBaselineFactor);
    lb_baseUnit = label("times its usual (0: off)");
    lb_loss = label("or &losing over");
    std::tie(ed_loss, ud_loss) = number(0, 100);
    lb_lossUnit = label("% (0: off)");
    lb_window = label("of its last");
    std::tie(ed_window, ud_window) = number(1, AlertSettings::MaxLossWindow);
    lb_windowUnit = label("echoes");
    ck_sounds = new g_checkbox(this);
    ck_sounds->setText(QStringLiteral("Play &sounds"));
    ck_notices = new g_checkbox(this);
    ck_notices->setText(QStringLiteral("Send desktop &notices"));
    ck_pathChanges = new g_checkbox(this);
    ck_pathChanges->setText(QStringLiteral("Tell when a watched &path changes its route"));
    ck_pathLoss = new g_checkbox(this);
    ck_pathLoss->setText(QStringLiteral("Tell when a watched path loses from a &hop"));
    ck_login = new g_checkbox(this);
    ck_login->setText(QStringLiteral("Start at lo&gin in the notification area"));
    bn_close = new TCBitBtn(this);
    bn_close->SetKind(bkClose);
    bn_close->SetCaption(QStringLiteral("&Close"));
    bn_close->SetTipo3D(T3D::normal);
    bn_close->setToolTip(QStringLiteral("Changes are already in force"));

    lb_fails->SetFocusControl(ed_fails);
    lb_answers->SetFocusControl(ed_answers);
    lb_rtt->SetFocusControl(ed_rtt);
    lb_base->SetFocusControl(ed_base);
    lb_loss->SetFocusControl(ed_loss);
    lb_window->SetFocusControl(ed_window);

    ed_fails->setToolTip(QStringLiteral("Runs without any answer before a host counts as down"));
    ed_answers->setToolTip(QStringLiteral("Answering runs before a down host counts as up again"));
    ed_rtt->setToolTip(
        QStringLiteral("Round-trip time in milliseconds above which a host is degraded"));
    ed_base->setToolTip(
        QStringLiteral("Multiple of the host's usual round-trip time above which it is degraded"));
    ed_loss->setToolTip(QStringLiteral("Share of lost echoes above which a host is degraded"));
    ed_window->setToolTip(QStringLiteral("Number of recent echoes the loss is counted over"));

    // Layout; it grows with a font whose captions come out wider.
    FormScale scale(this);
    for (g_label3d* l : {lb_fails, lb_answers, lb_rtt, lb_base, lb_loss, lb_window})
        scale.Fit(l->width(), EditLeft - 20);
    for (g_label3d* l :
         {lb_failsUnit, lb_answersUnit, lb_rttUnit, lb_baseUnit, lb_lossUnit, lb_windowUnit})
        scale.Fit(l->width(), ClientWidth - UnitLeft - 8);
    FScale = scale.Factor();

    struct Row {
        g_label3d* caption;
        g_edit* edit;
        g_updown* spin;
        g_label3d* unit;
        int left, top;
    };
    const Row rows[] = {
        {lb_fails, ed_fails, ud_fails, lb_failsUnit, 12, 12},
        {lb_answers, ed_answers, ud_answers, lb_answersUnit, 12, 40},
        {lb_rtt, ed_rtt, ud_rtt, lb_rttUnit, 20, 100},
        {lb_base, ed_base, ud_base, lb_baseUnit, 20, 128},
        {lb_loss, ed_loss, ud_loss, lb_lossUnit, 20, 156},
        {lb_window, ed_window, ud_window, lb_windowUnit, 20, 184},
    };
    for (const Row& r : rows) {
        r.caption->move(Px(r.left), Px(r.top + 3));
        SetBounds(r.edit, EditLeft, r.top, EditWidth, 21);
        SetBounds(r.spin, EditLeft + EditWidth, r.top, 12, 21);
        r.unit->move(Px(UnitLeft), Px(r.top + 3));
    }
    lb_degraded->move(Px(12), Px(72));
    SetBounds(tbevel_ex1, 8, 88, ClientWidth - 16, 124);
    SetBounds(ck_sounds, 12, 220, 140, 20);
    SetBounds(ck_notices, 160, 220, 160, 20);
    SetBounds(ck_pathChanges, 12, 246, ClientWidth - 24, 20);
    SetBounds(ck_pathLoss, 12, 272, ClientWidth - 24, 20);
    SetBounds(ck_login, 12, 298, ClientWidth - 24, 20);
    SetBounds(bn_close, ClientWidth - 89, 328, 81, 25);

    FFields = {{ed_fails, ud_fails, &Limits::FailuresToDown},
               {ed_answers, ud_answers, &Limits::AnswersToUp},
               {ed_rtt, ud_rtt, &Limits::RttLimitMs},
               {ed_base, ud_base, &Limits::BaselineFactor},
               {ed_loss, ud_loss, &Limits::LossPercent},
               {ed_window, ud_window, &Limits::LossWindow}};
    for (const Field& f : FFields) {
        f.edit->OnChange = [this, f](QObject*) { Take(f); };
        // Leaving a number that is no valid value shows the one in force.
        connect(f.edit, &QLineEdit::editingFinished, this, [this, f] {
            const int value = FSettings.Thresholds.*(f.member);
            if (f.spin->ParsePosition(f.edit->text()) != value) {
                const bool filling = std::exchange(FFilling, true);
                f.edit->setText(f.spin->FormatPosition(value));
                f.spin->SetPosition(value);
                FFilling = filling;
            }
        });
    }
    ck_sounds->OnClick = [this](QObject*) {
        if (!FFilling && FSettings.Sounds != ck_sounds->Checked()) {
            FSettings.Sounds = ck_sounds->Checked();
            Changed();
        }
    };
    ck_notices->OnClick = [this](QObject*) {
        if (!FFilling && FSettings.Notices != ck_notices->Checked()) {
            FSettings.Notices = ck_notices->Checked();
            Changed();
        }
    };

    ck_pathChanges->OnClick = [this](QObject*) {
        if (!FFilling && FSettings.PathChanges != ck_pathChanges->Checked()) {
            FSettings.PathChanges = ck_pathChanges->Checked();
            Changed();
        }
    };
    ck_pathLoss->OnClick = [this](QObject*) {
        if (!FFilling && FSettings.PathLoss != ck_pathLoss->Checked()) {
            FSettings.PathLoss = ck_pathLoss->Checked();
            Changed();
        }
    };

    ck_login->OnClick = [this](QObject*) {
        if (FFilling || !OnStartAtLogin)
            return;
        const bool wanted = ck_login->Checked();
        if (!OnStartAtLogin(wanted))
            SetStartAtLogin(!wanted);
    };

    QWidget* const tabOrder[] = {ed_fails,       ed_answers,  ed_rtt,    ed_base,
                                 ed_loss,        ed_window,   ck_sounds, ck_notices,
                                 ck_pathChanges, ck_pathLoss, ck_login,  bn_close};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // Every control answers to its name, for tests and accessibility tools.
    setObjectName(QStringLiteral("fm_alerts"));
    const std::pair<QObject*, const char*> named[] = {{lb_fails, "lb_fails"},
                                                      {ed_fails, "ed_fails"},
                                                      {ud_fails, "ud_fails"},
                                                      {lb_failsUnit, "lb_failsUnit"},
                                                      {lb_answers, "lb_answers"},
                                                      {ed_answers, "ed_answers"},
                                                      {ud_answers, "ud_answers"},
                                                      {lb_answersUnit, "lb_answersUnit"},
                                                      {lb_degraded, "lb_degraded"},
                                                      {tbevel_ex1, "tbevel_ex1"},
                                                      {lb_rtt, "lb_rtt"},
                                                      {ed_rtt, "ed_rtt"},
                                                      {ud_rtt, "ud_rtt"},
                                                      {lb_rttUnit, "lb_rttUnit"},
                                                      {lb_base, "lb_base"},
                                                      {ed_base, "ed_base"},
                                                      {ud_base, "ud_base"},
                                                      {lb_baseUnit, "lb_baseUnit"},
                                                      {lb_loss, "lb_loss"},
                                                      {ed_loss, "ed_loss"},
                                                      {ud_loss, "ud_loss"},
                                                      {lb_lossUnit, "lb_lossUnit"},
                                                      {lb_window, "lb_window"},
                                                      {ed_window, "ed_window"},
                                                      {ud_window, "ud_window"},
                                                      {lb_windowUnit, "lb_windowUnit"},
                                                      {ck_sounds, "ck_sounds"},
                                                      {ck_notices, "ck_notices"},
                                                      {ck_pathChanges, "ck_pathChanges"},
                                                      {ck_pathLoss, "ck_pathLoss"},
                                                      {ck_login, "ck_login"},
                                                      {bn_close, "bn_close"}};
    for (const auto& [object, name] : named)
        object->setObjectName(QString::fromLatin1(name));
    // The edits are named by their captions for assistive technology.
    for (const Row& r : rows)
        r.edit->setAccessibleName(QString(r.caption->Caption()).remove(QLatin1Char('&')));

    setFixedSize(Px(ClientWidth), Px(ClientHeight));
    SetSettings(FSettings);
    ed_fails->setFocus();
}

Tfm_alerts::~Tfm_alerts() = default;

void Tfm_alerts::SetSettings(const AlertSettings& settings) {
    const bool filling = std::exchange(FFilling, true);
    FSettings = settings;
    for (const Field& f : FFields) {
        const int value = FSettings.Thresholds.*(f.member);
        f.edit->setText(f.spin->FormatPosition(value));
        f.spin->SetPosition(value);
    }
    ck_sounds->SetChecked(settings.Sounds);
    ck_notices->SetChecked(settings.Notices);
    ck_pathChanges->SetChecked(settings.PathChanges);
    ck_pathLoss->SetChecked(settings.PathLoss);
    FFilling = filling;
}

void Tfm_alerts::SetStartAtLogin(bool on) {
    const bool filling = std::exchange(FFilling, true);
    ck_login->SetChecked(on);
    FFilling = filling;
}

void Tfm_alerts::showEvent(QShowEvent* event) {
    ck_login->setVisible(bool(OnStartAtLogin));
    TForm::showEvent(event);
}

void Tfm_alerts::Take(const Field& field) {
    if (FFilling)
        return;
    const std::optional<int> value = field.spin->ParsePosition(field.edit->text());
    if (!value || *value == FSettings.Thresholds.*(field.member))
        return;
    FSettings.Thresholds.*(field.member) = *value;
    Changed();
}

void Tfm_alerts::Changed() {
    if (OnApply)
        OnApply(FSettings);
}

void Tfm_alerts::keyPressEvent(QKeyEvent* event) {
    // Esc closes the dialog also when it is not shown modally: every change
    // is in force already, so there is nothing to cancel.
    if (event->key() == Qt::Key_Escape && !(event->modifiers() & ~Qt::KeypadModifier)) {
        close();
        return;
    }
    TForm::keyPressEvent(event);
}

int Tfm_alerts::Px(int pixels) const {
    return qRound(pixels * FScale);
}

void Tfm_alerts::SetBounds(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(Px(left), Px(top), Px(width), Px(height));
}
