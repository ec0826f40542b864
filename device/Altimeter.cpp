#include "device/Altimeter.h"

CAltimeter::CAltimeter() {
  // The process-wide object closes its channel at exit: the host's slot must
  // be made before it, so that it is destroyed after it.
  MakeHidHostSlot();
  settings.LoadDefaults();
}

CAltimeter::~CAltimeter() { Close(); }

CAltimeter& Altimeter() {
  static CAltimeter altimeter;
  return altimeter;
}
