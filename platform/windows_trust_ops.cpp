#include "platform/windows_trust_ops.h"

#include <windows.h>
// wincrypt.h and wintrust.h need the types of windows.h first.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"

namespace {

constexpr char kCrypt32Dll[] = "crypt32.dll";

struct Crypt32Functions {
  decltype(&::CertAddEncodedCertificateToStore) CertAddEncodedCertificateToStore;
  decltype(&::CertCloseStore) CertCloseStore;
  decltype(&::CertCreateCertificateContext) CertCreateCertificateContext;
  decltype(&::CertFindCertificateInStore) CertFindCertificateInStore;
  decltype(&::CertFindExtension) CertFindExtension;
  decltype(&::CertFreeCertificateChain) CertFreeCertificateChain;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext;
  decltype(&::CertGetCertificateChain) CertGetCertificateChain;
  decltype(&::CertGetEnhancedKeyUsage) CertGetEnhancedKeyUsage;
  decltype(&::CertGetSubjectCertificateFromStore) CertGetSubjectCertificateFromStore;
  decltype(&::CertOpenStore) CertOpenStore;
  decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy;
  decltype(&::CryptDecodeObject) CryptDecodeObject;
  decltype(&::CryptMsgClose) CryptMsgClose;
  decltype(&::CryptMsgControl) CryptMsgControl;
  decltype(&::CryptMsgGetParam) CryptMsgGetParam;
  decltype(&::CryptMsgOpenToDecode) CryptMsgOpenToDecode;
  decltype(&::CryptMsgUpdate) CryptMsgUpdate;
  decltype(&::CertCreateCTLContext) CertCreateCTLContext;
  decltype(&::CertFreeCTLContext) CertFreeCTLContext;
};

// Null when crypt32.dll cannot be loaded from the system folder or lacks a function; every
// object below exists only once it was loaded, so their closers can count on it.
const Crypt32Functions* Crypt32() {
  static Crypt32Functions functions;
  static bool complete = false;
  if (complete) {
    return &functions;
  }
  int missing = 0;
  functions = {QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertAddEncodedCertificateToStore, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertCloseStore, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertCreateCertificateContext, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertFindCertificateInStore, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertFindExtension, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertFreeCertificateChain, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertFreeCertificateContext, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertGetCertificateChain, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertGetEnhancedKeyUsage, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertGetSubjectCertificateFromStore, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertOpenStore, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertVerifyCertificateChainPolicy, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptDecodeObject, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptMsgClose, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptMsgControl, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptMsgGetParam, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptMsgOpenToDecode, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CryptMsgUpdate, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertCreateCTLContext, missing),
               QZ_DLL_TABLE_ENTRY(kCrypt32Dll, CertFreeCTLContext, missing)};
  complete = missing == 0;
  return complete ? &functions : nullptr;
}

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void CloseMessage(HCRYPTMSG message) { Crypt32()->CryptMsgClose(message); }
void CloseStore(HCERTSTORE store) { Crypt32()->CertCloseStore(store, 0); }
void FreeCertificate(PCCERT_CONTEXT certificate) {
  Crypt32()->CertFreeCertificateContext(certificate);
}
void FreeChain(PCCERT_CHAIN_CONTEXT chain) { Crypt32()->CertFreeCertificateChain(chain); }
void FreeTrustList(PCCTL_CONTEXT list) { Crypt32()->CertFreeCTLContext(list); }
using Message = UniqueHandle<HCRYPTMSG, CloseMessage, 0>;
using Store = UniqueHandle<HCERTSTORE, CloseStore, 0>;
using Certificate = UniqueHandle<PCCERT_CONTEXT, FreeCertificate, 0>;
using Chain = UniqueHandle<PCCERT_CHAIN_CONTEXT, FreeChain, 0>;
using TrustList = UniqueHandle<PCCTL_CONTEXT, FreeTrustList, 0>;

bool ReadCatalog(const char* path, std::vector<BYTE>& data) {
  const UniqueFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && ReadWholeFile(file.get(), data);
}

void SignerUsages(const CERT_CONTEXT* signer, CatalogFacts* facts) {
  DWORD size = 0;
  if (!Crypt32()->CertGetEnhancedKeyUsage(signer, 0, nullptr, &size)) {
    return;
  }
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!Crypt32()->CertGetEnhancedKeyUsage(signer, 0, usage, &size)) {
    return;
  }
  // No usage listed and "not found": the certificate is good for every use.
  facts->signerAllowsEveryUsage =
      usage->cUsageIdentifier == 0 && ::GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    facts->signerUsages.emplace_back(usage->rgpszUsageIdentifier[i]);
  }
}

bool SignerIsCa(const CERT_CONTEXT* signer) {
  const CERT_INFO* info = signer->pCertInfo;
  if (const CERT_EXTENSION* extension = Crypt32()->CertFindExtension(
          szOID_BASIC_CONSTRAINTS2, info->cExtension, info->rgExtension)) {
    CERT_BASIC_CONSTRAINTS2_INFO constraints;
    DWORD size = sizeof constraints;
    return Crypt32()->CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2,
                                        extension->Value.pbData, extension->Value.cbData, 0,
                                        &constraints, &size) &&
           constraints.fCA;
  }
  // The older form of the extension, still met in old certificates.
  if (const CERT_EXTENSION* extension = Crypt32()->CertFindExtension(
          szOID_BASIC_CONSTRAINTS, info->cExtension, info->rgExtension)) {
    DWORD size = 0;
    if (!Crypt32()->CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS,
                                      extension->Value.pbData, extension->Value.cbData, 0, nullptr,
                                      &size)) {
      return false;
    }
    std::vector<BYTE> buffer(size);
    const auto* constraints = reinterpret_cast<const CERT_BASIC_CONSTRAINTS_INFO*>(buffer.data());
    return Crypt32()->CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS,
                                        extension->Value.pbData, extension->Value.cbData, 0,
                                        buffer.data(), &size) &&
           constraints->SubjectType.cbData > 0 &&
           (constraints->SubjectType.pbData[0] & CERT_CA_SUBJECT_FLAG) != 0;
  }
  return false;
}

// Windows' own verdict on the file: signature, the content it covers, the time stamp and the
// chain to a trusted root, without revocation checks or downloads (the machine may be
// offline) and without any window.
std::uint32_t AuthenticodeVerdict(const char* path) {
  wchar_t widePath[MAX_PATH];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) {
    return static_cast<std::uint32_t>(TRUST_E_NOSIGNATURE);
  }
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = widePath;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const auto verifyTrust = QZ_DLL_FUNCTION("wintrust.dll", WinVerifyTrust);
  if (verifyTrust == nullptr) {
    return static_cast<std::uint32_t>(TRUST_E_NOSIGNATURE);
  }
  const LONG verdict = verifyTrust(noWindow, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verifyTrust(noWindow, &action, &data);
  return static_cast<std::uint32_t>(verdict);
}

// A second look at the signer's chain, built by the local machine's engine and judged by the
// Authenticode policy: some platforms' WinVerifyTrust accepts any root. Time validity was
// judged above with the signature's time stamp, so it is not judged again at today's date.
std::uint32_t ChainPolicyError(const CERT_CONTEXT* signer, HCERTSTORE extraCertificates) {
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  // From the local caches only: an offline machine behind a dead proxy must not stall the run.
  if (!Crypt32()->CertGetCertificateChain(HCCE_LOCAL_MACHINE, signer, nullptr, extraCertificates,
                                          &chainPara, CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                                          &built)) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  const Chain chain(built);
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!Crypt32()->CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(),
                                                   &policyPara, &status)) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  if (status.dwError != 0) {
    return status.dwError;
  }
  // Some policy implementations pass a chain that stops short of any root; Windows does not.
  const DWORD judgedElsewhere = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
                                CERT_TRUST_CTL_IS_NOT_TIME_VALID |
                                CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;
  if ((chain->TrustStatus.dwErrorStatus & ~judgedElsewhere) != 0) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  return 0;
}

// The catalog is a certificate trust list whose entries are the package's files; each entry's
// indirect-data attribute carries that file's digest, which the logic matches against the INF.
void MemberIndirectData(const std::vector<BYTE>& catalog, CatalogFacts* facts) {
  const TrustList list(Crypt32()->CertCreateCTLContext(kEncoding, catalog.data(),
                                                       static_cast<DWORD>(catalog.size())));
  if (!list) {
    return;
  }
  const CTL_INFO* info = list->pCtlInfo;
  for (DWORD entry = 0; entry < info->cCTLEntry; ++entry) {
    const CTL_ENTRY& member = info->rgCTLEntry[entry];
    for (DWORD attribute = 0; attribute < member.cAttribute; ++attribute) {
      const CRYPT_ATTRIBUTE& found = member.rgAttribute[attribute];
      if (std::strcmp(found.pszObjId, SPC_INDIRECT_DATA_OBJID) != 0) {
        continue;
      }
      for (DWORD value = 0; value < found.cValue; ++value) {
        const CRYPT_ATTR_BLOB& blob = found.rgValue[value];
        facts->memberIndirectData.emplace_back(blob.pbData, blob.pbData + blob.cbData);
      }
    }
  }
}

// Decoded as a PKCS #7 message: CryptQueryObject reports a catalog as a trust list and gives
// no message to verify.
void InspectCatalogOp(const char* path, CatalogFacts* facts) {
  *facts = CatalogFacts();
  std::vector<BYTE> data;
  if (!ReadCatalog(path, data)) {
    return;
  }
  facts->present = true;
  if (Crypt32() == nullptr) {
    return;  // nothing can be verified: as a catalog that does not verify
  }
  const Message message(Crypt32()->CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!message || !Crypt32()->CryptMsgUpdate(message.get(), data.data(),
                                             static_cast<DWORD>(data.size()), TRUE)) {
    return;
  }
  DWORD signers = 0;
  DWORD size = sizeof signers;
  if (!Crypt32()->CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) ||
      signers == 0) {
    return;
  }
  size = 0;
  if (!Crypt32()->CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
    return;
  }
  std::vector<BYTE> signerInfo(size);
  if (!Crypt32()->CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo.data(),
                                   &size)) {
    return;
  }
  const Store certificates(
      Crypt32()->CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
  if (!certificates) {
    return;
  }
  const Certificate signer(Crypt32()->CertGetSubjectCertificateFromStore(
      certificates.get(), kEncoding, reinterpret_cast<CERT_INFO*>(signerInfo.data())));
  if (!signer) {
    return;
  }
  facts->signedMessage = true;
  facts->signatureValid = Crypt32()->CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE,
                                                     signer->pCertInfo) != FALSE;
  facts->trustVerdict = AuthenticodeVerdict(path);
  facts->chainPolicyError = ChainPolicyError(signer.get(), certificates.get());
  SignerUsages(signer.get(), facts);
  facts->signerIsCa = SignerIsCa(signer.get());
  facts->signerCertificate.assign(signer->pbCertEncoded,
                                  signer->pbCertEncoded + signer->cbCertEncoded);
  MemberIndirectData(data, facts);
}

Store OpenTrustedPublisherStore() {
  return Store(Crypt32()->CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE, "TrustedPublisher"));
}

int TrustedPublisherHasOp(const std::vector<unsigned char>& certificate) {
  if (Crypt32() == nullptr) {
    return -1;
  }
  const Store store = OpenTrustedPublisherStore();
  if (!store) {
    return -1;
  }
  const Certificate wanted(Crypt32()->CertCreateCertificateContext(
      X509_ASN_ENCODING, certificate.data(), static_cast<DWORD>(certificate.size())));
  if (!wanted) {
    return 0;
  }
  const Certificate found(Crypt32()->CertFindCertificateInStore(
      store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr));
  return found ? 1 : 0;
}

int AddTrustedPublisherOp(const std::vector<unsigned char>& certificate) {
  if (Crypt32() == nullptr) {
    return 0;
  }
  const Store store = OpenTrustedPublisherStore();
  return store && Crypt32()->CertAddEncodedCertificateToStore(
                      store.get(), X509_ASN_ENCODING, certificate.data(),
                      static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_NEW, nullptr)
             ? 1
             : 0;
}

}  // namespace

void AddWindowsTrustOps(PlatformOps* ops) {
  ops->InspectCatalog = InspectCatalogOp;
  ops->TrustedPublisherHas = TrustedPublisherHasOp;
  ops->AddTrustedPublisher = AddTrustedPublisherOp;
}
