// Dialog 146 "INFO" (version and hardware number) and dialog 155 "Gleichstromwiderstand ?"
// (the DC resistance of the T/S procedure).
#pragma once

#include <QDialog>

class QLineEdit;

namespace app::dialogs {

class InfoDialog : public QDialog {
public:
    explicit InfoDialog(QWidget* owner = nullptr);
    // "OrvoPro Version: 2.30 Deutsch      Hardwarenummer: 9"
    static QString infoLine(int hardwareNumber);
};

class DcResistanceDialog : public QDialog {
public:
    DcResistanceDialog(float proposalOhm, QWidget* owner = nullptr);
    // OK: accepts 0.5 <= value < 100 and closes; otherwise message 112/71, stays open.
    bool confirm();
    float valueOhm() const { return value_; }

private:
    QLineEdit* edit_;
    float value_;
};

} // namespace app::dialogs
