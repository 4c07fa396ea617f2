// What the export refuses is reported in the Results window, and the script
// goes on: sizes beyond a sheet, a file that is no workbook, a file that
// cannot be written.
image small := RealImage("small", 4, 3, 1);
image long := RealImage("long", 4, 65535, 1);
saveprofileasxls(long, "long.xls", "q I", 1);
image wide := RealImage("wide", 4, 257, 2);
saveimageasxls(wide, "wide.xls", "", "t", "S");
string words = "";
for (number k = 0; k < 256; k = k + 1) { words = words + "w" + k + " "; }
saveprofileasxls(small, "labels.xls", words, 1);
SaveImage(small, "pattern.xls");
saveprofileasxls(small, "pattern.xls", "q I", 1);
saveprofileasxlslong(small, "no/such/dir/out.xls", "q I", 1, "t", "S");
saveprofileasxlslong(small, "ok.xls", "q I", 1, "t", "");
Result("script went on\n");
