#pragma once

#include "alerts/AlertSettings.h"
#include "controls/TForm.h"

#include <functional>

class g_checkbox;
class g_edit;
class g_label3d;
class g_updown;
class tbevel_ex;
class TCBitBtn;

// The "Alerts" dialog: when a watched host counts as down, up again or
// degraded, and whether changes are heard and sent as desktop notices.
// Every valid change applies at once through OnApply; there is nothing to
// confirm. A number being typed that is not (yet) valid is not applied, and
// the edit shows the value in force again when it loses the focus.
class Tfm_alerts : public TForm {
    Q_OBJECT
public:
    explicit Tfm_alerts(QWidget* owner = nullptr);
    ~Tfm_alerts() override;

    const alerts::AlertSettings& Settings() const { return FSettings; }
    // Shows these settings; does not fire OnApply.
    void SetSettings(const alerts::AlertSettings& settings);

    // Fired with the whole settings after each change the user made.
    std::function<void(const alerts::AlertSettings&)> OnApply;

    // Whether the program starts at login; shown, not reported.
    void SetStartAtLogin(bool on);
    // Fired when the user switches the start at login; answers whether the
    // change took effect, and the box goes back when it did not. Without a
    // handler the box is hidden.
    std::function<bool(bool on)> OnStartAtLogin;

    double Scale() const { return FScale; }

    g_label3d* lb_fails;
    g_edit* ed_fails;
    g_updown* ud_fails;
    g_label3d* lb_failsUnit;
    g_label3d* lb_answers;
    g_edit* ed_answers;
    g_updown* ud_answers;
    g_label3d* lb_answersUnit;
    g_label3d* lb_degraded;
    tbevel_ex* tbevel_ex1;
    g_label3d* lb_rtt;
    g_edit* ed_rtt;
    g_updown* ud_rtt;
    g_label3d* lb_rttUnit;
    g_label3d* lb_base;
    g_edit* ed_base;
    g_updown* ud_base;
    g_label3d* lb_baseUnit;
    g_label3d* lb_loss;
    g_edit* ed_loss;
    g_updown* ud_loss;
    g_label3d* lb_lossUnit;
    g_label3d* lb_window;
    g_edit* ed_window;
    g_updown* ud_window;
    g_label3d* lb_windowUnit;
    g_checkbox* ck_sounds;
    g_checkbox* ck_notices;
    g_checkbox* ck_pathChanges;
    g_checkbox* ck_pathLoss;
    g_checkbox* ck_login;
    TCBitBtn* bn_close;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One number of the settings with its edit and spin buttons.
    struct Field {
        g_edit* edit;
        g_updown* spin;
        int alerts::Limits::*member;
    };
    void Take(const Field& field);
    void Changed();
    int Px(int pixels) const;
    void SetBounds(QWidget* control, int left, int top, int width, int height);

    alerts::AlertSettings FSettings;
    QVector<Field> FFields;
    bool FFilling = false;
    double FScale = 1.0;
};
