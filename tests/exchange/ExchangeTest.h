#pragma once
// What the import and export tests share: the fixture, and the files they write and read back
// with independent readers.
#include "tests/support/Files.h"
#include "tests/support/Fixture.h"
