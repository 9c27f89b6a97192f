#include "gui/widgets/errorreportbox.h"

#include "gui/widgets/interaction.h"
#include "registry/localdb.h"

namespace ErrorReport {

void show(QWidget* parent, const DbError& e) { MsgBox(parent, forDbError(e)); }

}  // namespace ErrorReport
