// The library as a whole: its areas, registered with the core in this order when the shared library
// is loaded (the order in which their start-up and shut-down hooks run), then the start-up itself.
//
// The library and every test program link the areas' objects directly (link/CMakeLists.txt): this
// file is reached only through its constructor, so an archive that dropped unreferenced objects
// would lose it. core_library_tests checks that every procedure of the table in the core's
// documentation is registered.
#include "areas.h"
#include "core/registry.h"

namespace {

const quarn::core::Area* const kAreas[] = {
    &quarn::link::kUailArea,
    &quarn::link::kCalibratorArea,
    &quarn::link::kHartArea,
};

__attribute__((constructor)) void quarnLibraryLoad() { quarn::core::libraryLoaded(kAreas); }

__attribute__((destructor)) void quarnLibraryUnload() { quarn::core::libraryUnloading(); }

}  // namespace
