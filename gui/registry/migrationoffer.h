#pragma once

// The window side of bringing an earlier installation's registry over.
namespace Migracao {

// The offer itself: asks, brings over, says how many. Marks the offer as made unless it failed.
void oferecer();
// Makes oferecer() run at the first use of the local database (the program calls it at start).
void instalar();

}  // namespace Migracao
