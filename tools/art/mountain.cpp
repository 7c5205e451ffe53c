#include "art.h"
namespace art {
Image drawMountain() { return Image(2048, 1152); }
}
