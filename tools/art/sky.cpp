#include "art.h"
namespace art {
Image drawStars() { return Image(2560, 2560); }
Image drawMeteorSkySmall() { return Image(2048, 1152); }
Image drawMeteorSkyBig() { return Image(2048, 1152); }
}
