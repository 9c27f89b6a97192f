#pragma once

// How far the user has come with the registry, for the main window's guidance. Read without writing
// and without the first-use set-up: a missing diziz.db simply means nothing was registered yet.
enum class RegistryStage {
  SemContador,      // no accountant
  SemContribuinte,  // an accountant, no taxpayer
  Pronto,           // both (or the registry could not be read: no guidance then)
};

RegistryStage ReadRegistryStage();
