#pragma once
#include <QPushButton>
#include <QTableWidget>

#include "gui/transmission/frmupload.h"
#include "support/formdriver.h"

// The ZIDE upload window read as the user sees it.
namespace UploadForm {

// The reference grid's rows under its header row.
inline int dataRows(FrmUpload* f) { return FormDriver::child<QTableWidget>(f, "GridRefencias")->rowCount() - 1; }

// Whether the send button can be clicked.
inline bool enviar(FrmUpload* f) { return FormDriver::child<QPushButton>(f, "cmdUpload")->isEnabled(); }

}  // namespace UploadForm
