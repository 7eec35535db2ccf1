# Included from src/CMakeLists.txt in the kelso_core section (paths are relative to src/):
# the Cooler's store, the list rules and the `kelso cooler` tool need no widgets, since the
# command-line tools run without a display.
target_sources(kelso_core PRIVATE
  browser/KLItemListOps.h browser/KLItemListOps.cpp
  browser/KLCoolerStore.h browser/KLCoolerStore.cpp
  browser/KLCoolerArguments.h browser/KLCoolerArguments.cpp
  browser/KLCoolerCommand.h browser/KLCoolerCommand.cpp)
