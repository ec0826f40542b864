#include "device/Altimeter.h"

CAltimeter::CAltimeter() { settings.LoadDefaults(); }

CAltimeter::~CAltimeter() { Close(); }

CAltimeter& Altimeter() {
  static CAltimeter altimeter;
  return altimeter;
}
