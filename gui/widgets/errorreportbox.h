#pragma once
#include "registry/errorreport.h"

class QWidget;

namespace ErrorReport {
// Shows the report (OK only, no icon, the application's title).
void show(QWidget* parent, const DbError& e);
}  // namespace ErrorReport
