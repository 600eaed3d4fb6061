#pragma once
// The FAT searches re-attach directories whose parent is missing, or which
// are caught in a parent cycle, with the helpers every engine shares.
#include "entries/lost_directories.h"
