#pragma once
#include <string>

// Firebird 3's embedded engine reads its configuration and lock folder from the environment
// once, at the first call into libfbclient, so this runs before that call.
//
// It makes the engine work the same for every user and for several processes reading one
// declaration at once:
//  - FIREBIRD points at a private configuration root with ServerMode = Classic (the packaged
//    Super mode lets only one process open a file). The root holds real copies of the
//    character-set module, which refuses to load through symlinks.
//  - FIREBIRD_LOCK, unless already set, points at a lock folder of this user (the shared
//    /tmp/firebird belongs to whoever created it first).
// Both live in $XDG_RUNTIME_DIR/zide-firebird when the session has a runtime folder, else in a
// folder of this run made with mkdtemp (removed at exit); every folder is checked to be a real
// directory of this user with mode 0700. Returns false with a message when that cannot be done.
bool PrepareEmbeddedFirebird(std::string* error);

// Removes the folder of this run, if it made one; for exits that skip atexit (std::_Exit).
void RemoveRunFolder();

// Whether other processes reading the same file share this one's lock folder. Classic mode
// coordinates processes only through it: without a shared one, open a private copy instead.
bool SharedLockFolder();

// A private copy of a declaration, for files the engine cannot open in place: a name with ':'
// (taken for "server:path") or a file this user may not write (the engine opens read-write).
// It goes into `folder` when one is given (a private folder of the caller's, which it cleans after
// a crash), else into this run's folder. Call after PrepareEmbeddedFirebird; the caller removes the
// copy. Empty with a message on failure.
std::string PrivateCopy(const std::string& file, const std::string& folder, std::string* error);
