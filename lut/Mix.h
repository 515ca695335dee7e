// How a looked-up colour is mixed with the colour it was looked up for: per
// channel k * c + s * l with k = 1 - s, where s is the channel's strength
// times the master mix, kept within [0, 1] (a NaN becomes 1) so that the
// result stays within the range of its inputs. The render and the .cube bake
// both mix this way, so an exported LUT gives what the render shows.
#ifndef TINTBRIDGE_MIX_H
#define TINTBRIDGE_MIX_H

#include "lut/Clamp.h"

// The strength of one channel. For float arguments the double product is
// exact, so this equals the float product rounded once.
inline float mixStrength(double channel, double master) { return clampUnit(static_cast<float>(channel * master)); }

struct MixStrengths {
  float s[3];  // per channel, each within [0, 1]
};

inline MixStrengths mixStrengths(double master, double red, double green, double blue) {
  return MixStrengths{{mixStrength(red, master), mixStrength(green, master), mixStrength(blue, master)}};
}

// One channel: `keep` is 1 - s, computed once per strength.
inline float mixChannel(float keep, float s, float original, float lookedUp) { return keep * original + s * lookedUp; }

#endif
