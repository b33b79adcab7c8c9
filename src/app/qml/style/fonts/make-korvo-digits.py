#!/usr/bin/env python3
#   python3 make-korvo-digits.py Inter-SemiBold.otf KorvoDigits-SemiBold.otf
# Makes "Korvo Digits": Inter SemiBold's digits with the tabular (equal-width) forms as the
# default glyphs, and nothing else.
import sys
from fontTools.ttLib import TTFont
from fontTools import subset

src, dst = sys.argv[1], sys.argv[2]
font = TTFont(src)
gsub = font['GSUB'].table
tnum = set()
for record in gsub.FeatureList.FeatureRecord:
    if record.FeatureTag == 'tnum':
        tnum.update(record.Feature.LookupListIndex)
mapping = {}
for index in sorted(tnum):
    lookup = gsub.LookupList.Lookup[index]
    for sub in lookup.SubTable:
        if lookup.LookupType == 7:
            sub = sub.ExtSubTable
        if hasattr(sub, 'mapping'):
            mapping.update(sub.mapping)
digits = [0x30 + i for i in range(10)]
for table in font['cmap'].tables:
    for cp in digits:
        if cp in table.cmap and table.cmap[cp] in mapping:
            table.cmap[cp] = mapping[table.cmap[cp]]
options = subset.Options()
options.layout_features = []
options.name_IDs = ['*']
options.notdef_outline = True
subsetter = subset.Subsetter(options)
subsetter.populate(unicodes=digits)
subsetter.subset(font)
for record in font['name'].names:
    if record.nameID in (1, 16):
        record.string = 'Korvo Digits'
    elif record.nameID in (4,):
        record.string = 'Korvo Digits SemiBold'
    elif record.nameID == 6:
        record.string = 'KorvoDigits-SemiBold'
    elif record.nameID == 3:
        record.string = 'Korvo Digits SemiBold; derived from Inter'
font.save(dst)
check = TTFont(dst)
cmap = check.getBestCmap()
print('advances', sorted({check['hmtx'][cmap[c]][0] for c in digits}), 'bytes', len(open(dst, 'rb').read()))
