#pragma once

#include "core/store/records.h"

#include <QDialog>

#include <memory>

class AppContext;
class PanelWindowActions;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
namespace Ui {
class AddServerWindow;
class ModifyServerWindow;
} // namespace Ui

// The windows "添加服务器" and "修改服务器": the same server and panel fields under the same
// names, laid out differently. The window only shows and collects fields; ServerEditor stores.
class ServerEditorWindow : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Add, Modify };
    static constexpr int kNarrowAddWidth = 392;
    static constexpr int kWideAddWidth = 765;
    static constexpr int kPanelAddButtonX = 136;

    ServerEditorWindow(Mode mode, AppContext& context, QWidget* parent = nullptr);
    ~ServerEditorWindow() override;

    Mode mode() const { return mode_; }

    // The server the boxes describe, with the id of the server given to setFields (none in the
    // add window); the group is the selected item's text.
    ServerRecord fields() const;
    void setFields(const ServerRecord& server);
    bool hasSelectedGroup() const;
    // Replaces the group list: `first` (when not null) on top and selected, then every group.
    void setGroups(const QList<GroupRecord>& groups, const QString* first = nullptr);
    void setRentalTimes(const QString& start, const QString& end);
    // Shows the public address for the panel's whitelist once the cloud service has told it.
    void startWhitelistFetch();

    // While the store reads or writes for the window: "添加" / "修改" is disabled and the
    // pointer says busy; the group box says it is being read until setGroups fills it.
    void setWaiting(bool waiting);
    bool isWaiting() const { return waiting_; }
    void showGroupsLoading();

Q_SIGNALS:
    void submitted();

private:
    struct Controls;
    void onSystemChosen();
    void onAddressEdited(const QString& text);
    void showPanelFields();

    Mode mode_;
    std::unique_ptr<Ui::AddServerWindow> addUi_;
    std::unique_ptr<Ui::ModifyServerWindow> modifyUi_;
    std::unique_ptr<Controls> c_;
    QString serverId_;
    PanelWindowActions* panel_ = nullptr;
    bool waiting_ = false;
};
