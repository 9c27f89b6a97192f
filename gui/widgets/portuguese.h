#pragma once

// The program speaks Brazilian Portuguese everywhere, Qt's own dialogs included: the default locale
// for dates, numbers and sizes, and every Qt translation installed for pt_BR. Returns how many
// translation catalogues were installed.
int UsePortuguese();
