#include "client/build.h"

const buildProfile& nativeBuild() { return windowsProfile; }
