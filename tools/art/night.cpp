#include "art.h"
namespace art {
Image drawStarNight() { return Image(2048, 1152); }
Image drawMeteorGround() { return Image(2048, 1152); }
}
