// What the enrolment object offers a page: its signature algorithms with
// their key lengths and the hash algorithms each signs with, and the defaults
// a new object starts with; then the road a page walks to enrol: a
// GOST R 34.10-2001 key made in a key store on drive a: and a certification
// request for it, printed as PEM. Run by scripts/demo through the script
// host, which checks the request.
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

// A key store and a key on drive a: (the defaults: store a:\, key files in
// a:\keys), and the request for the key.
var subject = "C=RU;O=Demo;CN=Demo User;Email=demo@example.ru;";
var purposes = "1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4";
fresh.ProviderName = "ГОСТ Р 34.10-2001 CP";  // CryptoPro identifiers
var request = fresh.createPKCS10(subject, purposes);
WScript.Echo("Key store on " + fresh.ContainerName + ": " +
             (fresh.IsPSEExists(fresh.ContainerName) ? "present" : "missing"));
WScript.Echo("Key file " + fresh.DefaultPKeyPath + "\\" + fresh.DefMediaPKeyFileName(0) + ": " +
             (fresh.IsFileExists(fresh.DefaultPKeyPath + "\\" + fresh.DefMediaPKeyFileName(0))
                  ? "present" : "missing"));
WScript.Echo("Certification request for " + subject);
WScript.Echo(request);
