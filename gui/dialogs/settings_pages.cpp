// The General, Connection, Message and Protocol pages of the settings sheet:
// each control shows one field of the sheet model and writes it back.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/dialog_windows.h"
#include "gui/dialogs/gui_dialogs.h"

namespace vardane::gui {

namespace {

using Sheet = SettingDlgSheet;

// A number edit followed by its unit ("KB", the localized seconds).
QHBoxLayout* WithUnit(QWidget* edit, const QString& unit, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(new QLabel(unit, parent));
    return row;
}

template <typename Field>
std::function<void(Field)> Store(Field& field) {
    return [&field](Field value) { field = std::move(value); };
}

}  // namespace

QWidget* SettingsSheetDialog::BuildGeneral() {
    Sheet::GeneralPage& page = model_.General();
    auto* widget = new QWidget(tabs_);
    auto* form = new QFormLayout(widget);
    const auto label = [this](const char* key) { return model_.Label(key); };
    form->addRow(BoundCheck(label("SettingDlg_MinAtStart"), page.MinAtStart, "MinAtStart", widget,
                            Store(page.MinAtStart)));
    form->addRow(BoundCheck(label("SettingDlg_DownloadAtStart"), page.DownloadAtStart,
                            "DownloadAtStart", widget, Store(page.DownloadAtStart)));
    auto* minBlock = BoundEdit(page.MinBlock, Sheet::kFieldMinBlock, widget, Store(page.MinBlock));
    form->addRow(KeyLabel(label("SettingDlg_MinBlock"), "SettingDlg_MinBlock", widget),
                 WithUnit(minBlock, "KB", widget));
    form->addRow(BoundCheck(label("SettingDlg_ToIE"), page.MonitorIE, "MonitorIE", widget,
                            Store(page.MonitorIE)));
    form->addRow(BoundCheck(label("SettingDlg_IELinkToClp"), page.LinkToClipBoard,
                            "LinkToClipBoard", widget, Store(page.LinkToClipBoard)));
    form->addRow(BoundCheck(label("SettingDlg_CloseToTray"), page.CloseToTray, "CloseToTray",
                            widget, Store(page.CloseToTray)));
    form->addRow(KeyLabel(label("SettingDlg_Lang"), "SettingDlg_Lang", widget),
                 BoundCombo(page.Languages, page.LanguageSelection, "Language", widget,
                            Store(page.LanguageSelection)));
    return widget;
}

QWidget* SettingsSheetDialog::BuildConnection() {
    Sheet::ConnectionPage& page = model_.Connection();
    auto* widget = new QWidget(tabs_);
    auto* layout = new QVBoxLayout(widget);
    const auto label = [this](const char* key) { return model_.Label(key); };
    const QString seconds = ToQ(label("SettingDlg_Seconds"));

    auto* timeOut = new QGroupBox(ToQ(label("SettingDlg_TimeOut")), widget);
    auto* timeOutForm = new QFormLayout(timeOut);
    timeOutForm->addRow(
        KeyLabel(label("SettingDlg_ConnectionTimeOut"), "SettingDlg_ConnectionTimeOut", timeOut),
        WithUnit(BoundEdit(page.ConnectionTimeOut, Sheet::kFieldConnectionTimeOut, timeOut,
                           Store(page.ConnectionTimeOut)),
                 seconds, timeOut));
    timeOutForm->addRow(KeyLabel(label("SettingDlg_RetryDelay"), "SettingDlg_RetryDelay", timeOut),
                        WithUnit(BoundEdit(page.RetryWaitSec, Sheet::kFieldRetryWaitSec, timeOut,
                                           Store(page.RetryWaitSec)),
                                 seconds, timeOut));
    layout->addWidget(timeOut);

    auto* limit = new QGroupBox(ToQ(label("SettingDlg_Limit")), widget);
    auto* limitForm = new QFormLayout(limit);
    limitForm->addRow(KeyLabel(label("SettingDlg_MaxTasks"), "SettingDlg_MaxTasks", limit),
                      BoundCombo(Sheet::MaxTasksEntries(), page.MaxTasksSelection, "MaxTasks",
                                 limit, Store(page.MaxTasksSelection)));
    auto* counts =
        BoundEdit(page.RetryCounts, Sheet::kFieldRetryCounts, limit, Store(page.RetryCounts));
    counts->setEnabled(model_.RetryCountsEnabled());
    auto* retryLimit = BoundCheck(label("SettingDlg_RetryTimes"), page.RetryLimit, "RetryLimit",
                                  limit, [this, counts](bool checked) {
                                      model_.Connection().RetryLimit = checked;
                                      counts->setEnabled(model_.RetryCountsEnabled());
                                  });
    limitForm->addRow(retryLimit, counts);
    layout->addWidget(limit);
    layout->addStretch();
    return widget;
}

QWidget* SettingsSheetDialog::BuildMessage() {
    Sheet::MessagePage& page = model_.Message();
    auto* widget = new QWidget(tabs_);
    auto* layout = new QVBoxLayout(widget);
    const auto label = [this](const char* key) { return model_.Label(key); };
    auto* group = new QGroupBox(ToQ(label("SettingDlg_Message")), widget);
    auto* form = new QFormLayout(group);
    form->addRow(BoundCheck(label("SettingDlg_AlarmVibrative"), page.Vibrative, "Vibrative", group,
                            Store(page.Vibrative)));
    form->addRow(BoundCheck(label("SettingDlg_AlarmPlaySound"), page.PlaySound, "PlaySound", group,
                            Store(page.PlaySound)));
    form->addRow(BoundCheck(label("SettingDlg_AlarmScreenNotify"), page.ScreenNotify,
                            "ScreenNotify", group, Store(page.ScreenNotify)));
    auto* sound = BoundEdit(page.SoundPath, Sheet::kFieldSoundPath, group, Store(page.SoundPath));
    auto* browse = new QPushButton("...", group);
    connect(browse, &QPushButton::clicked, this, [this, sound] {
        model_.OnBrowseSound(BrowseRunner(this));
        sound->setText(ToQ(model_.Message().SoundPath));
        FocusField(this, model_.FocusField());
    });
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(sound);
    soundRow->addWidget(browse);
    form->addRow(soundRow);
    form->addRow(
        KeyLabel(label("SettingDlg_AlarmSec"), "SettingDlg_AlarmSec", group),
        WithUnit(BoundEdit(page.AlarmSec, Sheet::kFieldAlarmSec, group, Store(page.AlarmSec)),
                 ToQ(label("SettingDlg_Seconds")), group));
    layout->addWidget(group);
    layout->addStretch();
    return widget;
}

QWidget* SettingsSheetDialog::BuildProtocol() {
    Sheet::ProtocolPage& page = model_.Protocol();
    auto* widget = new QWidget(tabs_);
    auto* layout = new QVBoxLayout(widget);
    const auto label = [this](const char* key) { return model_.Label(key); };
    auto* group = new QGroupBox(ToQ(label("SettingDlg_HTTP")), widget);
    auto* form = new QFormLayout(group);
    form->addRow(BoundCheck(label("SettingDlg_HTTPSendReferer"), page.HTTPSendReferer,
                            "HTTPSendReferer", group, Store(page.HTTPSendReferer)));
    form->addRow(KeyLabel(label("SettingDlg_HTTPUserAgent"), "SettingDlg_HTTPUserAgent", group),
                 BoundCombo(page.UserAgents, page.UserAgentSelection, "HTTPUserAgent", group,
                            Store(page.UserAgentSelection)));
    form->addRow(
        KeyLabel(label("SettingDlg_HTTPUserAgentUserDefine"), "SettingDlg_HTTPUserAgentUserDefine",
                 group),
        BoundEdit(page.UserDefinedAgent, "UserDefinedAgent", group, Store(page.UserDefinedAgent)));
    form->addRow(BoundCheck(label("SettingDlg_HTTPEnableCookies"), page.HTTPEnableCookies,
                            "HTTPEnableCookies", group, Store(page.HTTPEnableCookies)));
    layout->addWidget(group);
    layout->addStretch();
    return widget;
}

}  // namespace vardane::gui
