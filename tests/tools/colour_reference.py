#!/usr/bin/python3
"""The reference decoding of a picture for the colour tests: Pillow decodes the file, LittleCMS
(through PIL.ImageCms) converts it from its embedded profile (or the one given) to sRGB, and
the result is written as a binary PPM. The intent is the profile's own when the profile has a
table for it, else relative colorimetric; black-point compensation is on. Alpha is dropped,
leaving the colour stored under it; --orient applies the EXIF orientation."""
import argparse
import io
import sys

from PIL import Image, ImageCms, ImageOps


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("--profile")
    ap.add_argument("--orient", action="store_true")
    a = ap.parse_args()
    im = Image.open(a.input)
    im.seek(0)
    icc = open(a.profile, "rb").read() if a.profile else im.info.get("icc_profile")
    if a.orient:
        im = ImageOps.exif_transpose(im)
    if im.mode in ("RGBA", "LA", "P", "PA", "RGBa", "La", "I;16", "I", "1"):
        im = im.convert("RGBA" if im.mode in ("RGBA", "P", "PA", "RGBa") else "L")
    if im.mode == "RGBA":
        im = im.convert("RGB")  # the stored colour, not blended
    if icc:
        src = ImageCms.ImageCmsProfile(io.BytesIO(icc))
        intent = ImageCms.getDefaultIntent(src)
        if not ImageCms.isIntentSupported(src, intent, 0):  # 0: the profile used as input
            intent = ImageCms.INTENT_RELATIVE_COLORIMETRIC
        im = ImageCms.profileToProfile(im, src, ImageCms.createProfile("sRGB"), renderingIntent=intent,
                                       outputMode="RGB", flags=ImageCms.FLAGS["BLACKPOINTCOMPENSATION"])
    im.convert("RGB").save(a.output, "PPM")
    return 0


if __name__ == "__main__":
    sys.exit(main())
