// ASC CDL values fitted to a LUT, and the .cdl writer.
#ifndef TINTBRIDGE_CDL_VALUES_H
#define TINTBRIDGE_CDL_VALUES_H

struct CdlValues {
  float slope[3];
  float offset[3];
  float power[3];
  float saturation;
};

// Writes the 13-line ASC CDL XML file; false when it cannot be written.
bool writeCdl(const char *path, const CdlValues &values);

#endif
