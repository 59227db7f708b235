#include "Bitmap.h"
#include "Exceptions.h"

namespace nolvi2 {

void TBitmap::LoadFromStream(TStream&) { throw EInvalidGraphic("BMP reading is not written yet"); }
void TBitmap::SaveToStream(TStream&) const { throw EInvalidGraphic("BMP writing is not written yet"); }

}  // namespace nolvi2
