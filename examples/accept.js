// The second half of the road a page walks to enrol: the authority's answer
// (a signed message carrying the new certificate and the authority's own) is
// accepted, the certificate is shown as XML and saved, the key it belongs to
// is found on drive a:; a new key is made and a request for it signed with
// the certificate (a renewal: PKCS#10 in CMC in signed CMS, made in two
// steps), and a request to revoke the certificate is made in both forms:
// unsigned (the emergency password vouches for it) and signed with the
// certificate and its key. Run by scripts/demo through the script host with
// the answer's path and the folder the saved certificate goes to (where no
// one can answer the save question, CADB_SAVE_DIR names that folder and the
// certificate's display name the file); the demo checks what it prints.
var answer = WScript.Arguments(0);
var savedIn = WScript.Arguments(1);
var q = new ActiveXObject("Quillon.Quillon");

q.acceptFilePKCS7(answer);
WScript.Echo("Certificates accepted: " + q.CertPathLen());

var xml = q.CertXML(0, 8);
var serial = /<INTEGER>([0-9A-F]+)<\/INTEGER>/.exec(xml.substring(xml.indexOf("</CONTEXT_0>")));
WScript.Echo("The new certificate as XML: " + xml.length + " characters, serial " +
             (serial ? serial[1] : "not found"));

q.SaveCert(0, 2);
var certFile = savedIn + "/Demo User.cer";
WScript.Echo("Saved as PEM: " + (q.IsFileExists(certFile) ? certFile : "nothing"));

var keyFile = q.FindPairPKeyByCert(certFile, q.ContainerName, q.DefaultPKeyPath, 0);
WScript.Echo("Its key: " + keyFile);

var rvc = new ActiveXObject("Quillon.Quillon");
rvc.createRvcBegin(certFile, 1 /* keyCompromise */, "Аварийный пароль", "Ключ скомпрометирован",
                   q.ContainerName);
WScript.Echo("Revocation request (CMC, base64):");
WScript.Echo(rvc.createRvcEnd());
WScript.Echo("Signed revocation request (CMS):");
WScript.Echo(rvc.createRvcEndSigned(q.ContainerName, certFile, keyFile));

// The renewal's key goes to its own folder, so that the certificate's key
// stays where it is.
var renew = new ActiveXObject("Quillon.Quillon");
renew.ProviderName = "ГОСТ Р 34.10-2001 CP";
renew.DefaultPKeyPath = "a:\\renewal";
renew.createRequestBegin(33, "C=RU;O=Demo;CN=Demo User;", "1.3.6.1.5.5.7.3.2", 1);
WScript.Echo("Renewal request (CMS):");
WScript.Echo(renew.createRequestEnd(q.ContainerName, certFile, keyFile));
