#include "ui/store/export_action.h"

#include "core/store/batch_export.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"

using namespace Qt::StringLiterals;

void exportServerList(ServerListView* list, const QString& dataFolder, QWidget* parent) {
    QString error;
    if (BatchExport::writeExportFile(dataFolder, BatchExport::exportText(list->model()->servers()),
                                     &error))
        Prompt::inform(parent, BatchExport::exportedMessage(dataFolder));
    else
        Prompt::inform(parent, u"导出失败：%1"_s.arg(error), Prompt::kDefaultCaption,
                       QMessageBox::Warning);
}
