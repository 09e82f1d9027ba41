#ifndef VANTOSCOPE_SCANFILTER_H
#define VANTOSCOPE_SCANFILTER_H

// The filter stage run on every finished scan of a streaming model.
namespace ScanFilter {
} // namespace ScanFilter

#endif
