#include "update/Manifest.h"

// Defined here so that the class's virtual table lives in one object file.
Manifest::~Manifest() = default;
