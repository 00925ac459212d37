// What the enrolment object offers a page: its signature algorithms with
// their key lengths and the hash algorithms each signs with, and the defaults
// a new object starts with. Run by scripts/demo through the script host.
var kSignature = 0x2000, kHash = 0x8000, kNoMore = 0x80043A9A;

function each(enumerate) {
  var all = [];
  for (var i = 0; ; i++) {
    try {
      all.push(enumerate(i));
    } catch (e) {
      if ((e.number >>> 0) != kNoMore) throw e;
      return all;
    }
  }
}

var q = new ActiveXObject("Quillon.Quillon");
var names = each(function (i) { return q.enumProviders(i, kSignature); });
var nids = each(function (i) { return q.EnumAlgs(i, kSignature); });

WScript.Echo("Signature algorithms: name, NID, key lengths in bits, hash algorithms");
for (var i = 0; i < names.length; i++) {
  q.ProviderName = names[i];
  var range = q.GetKeyLen(1, 0) + ".." + q.GetKeyLen(0, 0);
  var hashes = each(function (j) { return q.EnumAlgs(j, kHash); });
  var hashNames = [];
  for (var j = 0; j < hashes.length; j++) hashNames.push(q.GetAlgName(hashes[j]) + " (" + hashes[j] + ")");
  WScript.Echo("  " + names[i] + " " + nids[i] + " " + range + " " + hashNames.join(", "));
}

var fresh = new ActiveXObject("Quillon.Quillon.1");
WScript.Echo("Defaults of a new object:");
WScript.Echo("  ProviderName        " + fresh.ProviderName);
WScript.Echo("  ContainerName       " + fresh.ContainerName);
WScript.Echo("  DefaultPKeyPath     " + fresh.DefaultPKeyPath);
WScript.Echo("  DefaultPKeyFileName " + fresh.DefaultPKeyFileName);
WScript.Echo("  HashAlgID           " + fresh.HashAlgID);
WScript.Echo("  key length          " + (fresh.GenKeyFlags >> 16));

try {
  fresh.createPKCS10("CN=Demo", "1.3.6.1.5.5.7.3.2");
} catch (e) {
  WScript.Echo("createPKCS10: " + e.description + " (0x" + (e.number >>> 0).toString(16) + ")");
}
