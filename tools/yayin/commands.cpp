#include "tools/yayin/yayin.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "release/signed_manifest.h"

namespace {

const char kHelp[] =
    "Kullanım: talvor-yayin KOMUT [SEÇENEK]...\n"
    "Talvor sürümlerini yayımlamak için anahtar üretir, imzalı bildirim yazar ve gösterir.\n"
    "\n"
    "  anahtar-uret --ozel=DOSYA.pem --acik=DOSYA.pub\n"
    "      Yeni bir P-256 anahtar çifti üretir: özel anahtar PKCS#8 PEM (izinler 0600), açık\n"
    "      anahtar 64 ham bayt (X sonra Y, büyük uçlu). Var olan bir dosyanın üzerine yazmaz.\n"
    "\n"
    "  bildirim-yaz --anahtar=OZEL.pem --cikti=DOSYA.tdb [--a=N] [--b=N]\n"
    "               [--bilesen=SATIR]... [--paket=AD:SÜRÜM:YOL]...\n"
    "      Tek kaydı bileşen listesi (kayıt 9) olan imzalı bir bildirim yazar. Satırlar verildikleri\n"
    "      sırayla \"\\n\" ile birleştirilir; bir satır ad|sürüm|sha256|boyut|paket biçimindedir.\n"
    "        --bilesen=SATIR         satırı olduğu gibi ekler\n"
    "        --paket=AD:SÜRÜM:YOL    satırı paket dosyasından kurar: SHA-256, boyut, dosya adı\n"
    "        --a=N                   başlık değeri A, 0-4294967295 (varsayılan 0)\n"
    "        --b=N                   başlık değeri B, bildirimin serisi, 0-18446744073709551615;\n"
    "                                verilmezse yazma anı (1970'ten beri saniye, UTC); DOSYA'daki\n"
    "                                bu anahtarla doğrulanan bildirimin serisi ondan küçük değilse\n"
    "                                o serinin bir fazlası\n"
    "      Her satır kurulum programının kurallarıyla denetlenir: ad 1-15 bayt; sürüm N.N.N (her\n"
    "      grupta 1-4 rakam); 64 onaltılık rakamlık özet; boyut 1-536870912; paket adı 5-100 bayt,\n"
    "      .tpk ile biter, yalnız A-Z a-z 0-9 . - _ içerir, '.' ile başlamaz, \"..\" içermez. Aynı ad\n"
    "      iki kez, boş liste ve 12582912 bayttan büyük bildirim reddedilir. Dosya geçici bir dosya\n"
    "      üzerinden bir kerede yazılır ve önce kurulumun okuyucusuyla doğrulanır.\n"
    "\n"
    "  bildirim-goster --acik=DOSYA.pub DOSYA.tdb\n"
    "      Bildirimi açık anahtarla doğrular ve satır satır yazar: a=A, b=SERİ, her kayıt için\n"
    "      kayitETİKET=METİN (etiket 1-11), bileşen listesinin her satırı için bilesen=SATIR,\n"
    "      geçerlilik kaydı (kayıt 10) için gecerlilik=SANİYE (1970'ten beri, UTC) ve\n"
    "      gecerlilik_utc=YYYY-AA-GGTSS:DD:SSZ. Ters bölü ve denetim karakterleri \\\\ ve \\xHH\n"
    "      olarak yazılır. Bildirim kabul edilmezse bildirim=DURUM yazar: 1 geçersiz, imza\n"
    "      tutmuyor ya da geçerlilik kaydı bir zaman değil, 6 bellek yetmedi, 7 desteklenmeyen\n"
    "      biçim sürümü.\n"
    "\n"
    "  paket-yap --surum=SÜRÜM [--ad=AD] [--is=N] [--sessiz] KLASÖR PAKET.tpk\n"
    "      Klasördeki her normal dosyayı '/' ile ayrılmış göreli yoluyla bir girdi yapar; girdiler\n"
    "      adların bayt sırasındadır, aynı klasör hep aynı baytları verir. Her dosya LZMS ile\n"
    "      sıkıştırılır (yöntem 1), küçülmüyorsa ya da boşsa olduğu gibi saklanır (yöntem 0).\n"
    "      Bağlantılar, normal olmayan dosyalar, kurulumun kabul etmeyeceği adlar (Windows'ta\n"
    "      aynı yolu gösteren iki ad ve aygıt adları dahil), 536870912 bayttan büyük dosyalar,\n"
    "      4096'dan çok dosya, dosyasız klasör ve 536870912 baytı aşacak paket reddedilir. Paket\n"
    "      geçici bir dosya üzerinden bir kerede yazılır. Sonra bildirim-yaz'ın aldığı biçimde\n"
    "      bileşen satırını yazar: --bilesen=AD|SÜRÜM|sha256|boyut|paket (AD varsayılan program).\n"
    "      İlerleme standart hataya yazılır: uçbirimde yerinde yenilenen tek satır (adım, dosyalar,\n"
    "      baytlar, yüzde, hız, kalan süre); uçbirim değilse adımın başında ve sonunda, arada en çok\n"
    "      5 saniyede bir düz bir satır:\n"
    "        talvor-yayin: adim=paket durum=basladi|suruyor|bitti dosya=BİTEN/TÜM bayt=BİTEN/TÜM\n"
    "      ve suruyor satırında yuzde=Y hiz=BAYT/SN kalan=SN (bilinmiyorsa kalan=?), bitti\n"
    "      satırında sure=SN.\n"
    "        --sessiz                ilerlemeyi yazmaz\n"
    "        --is=N                  dosyaları ve 64 MiB'lık parçalarını N iş parçacığıyla\n"
    "                                (1-1024; varsayılan işlemci sayısı) sıkıştırır; paket N ne\n"
    "                                olursa olsun aynı baytlardır\n"
    "\n"
    "  paket-goster PAKET.tpk\n"
    "      Paketin yapısını denetler ve her girdi için bir satır yazar:\n"
    "      girdi=AD|YÖNTEM|AÇILMIŞ BOYUT|SAKLANAN BOYUT|sha256 (özetler denetlenmez).\n"
    "\n"
    "  paket-ac PAKET.tpk KLASÖR\n"
    "      Paketi henüz var olmayan KLASÖR'e açar, her girdinin özetini denetler, kurulumun\n"
    "      reddettiği paketleri reddeder; klasörün dışına yazmaz, bağlantı izlemez. Başarıda\n"
    "      dosya=SAYI yazar; başarısızlıkta oluşturduğu klasörü siler.\n"
    "\n"
    "  yayinla --anahtar=OZEL.pem --surum=SÜRÜM [--acik=ACIK.pub] [--kurulum=KURULUM.exe]\n"
    "          [--yayindaki=SÜRÜM] [--seri=N] [--gecerlilik=GÜN] [--is=N] [--sessiz]\n"
    "          KLASÖR YAYIN_KLASÖRÜ\n"
    "      KLASÖR'deki ürün dosyalarını YAYIN_KLASÖRÜ'ne (sunucunun sunduğu klasör ya da --yerel=\n"
    "      için bir klasör; yoksa oluşturulur) SÜRÜM olarak yayımlar: önce paket-SÜRÜM.tpk geçici\n"
    "      bir ad üzerinden, sonra onu adlandıran imzalı bildirim.tdb tek bir ad değişikliğiyle.\n"
    "      Bildirim yayına girmeden önce paket yeniden okunur, her girdinin özeti denetlenir,\n"
    "      ürünün altı dosyası aranır; bildirim kurulumun okuyucusuyla ve özel anahtardan çıkan\n"
    "      açık anahtarla geri okunur. Bir önceki sürümün paketi kalır, daha eskileri silinir.\n"
    "      Bildirimin serisi (başlık değeri B) yayımlama anıdır (1970'ten beri saniye, UTC);\n"
    "      saat klasördeki bildirimin serisini geçmediyse o serinin bir fazlası. Seri hep artar;\n"
    "      kurulum, kurduğu bildirimden düşük serili bir bildirimi reddeder.\n"
    "        --acik=ACIK.pub         kurulumun taşıdığı açık anahtar; özel anahtarınki değilse ret\n"
    "        --kurulum=KURULUM.exe   sürümün yayımlandığı kurulum; bu anahtarı taşımıyorsa ret\n"
    "        --yayindaki=SÜRÜM       klasörde yayımlanan sürüm; yeni olmayan bir sürümü ancak bu\n"
    "                                verildiğinde ve doğru olduğunda yayımlar\n"
    "        --seri=N                seriyi elle verir; klasördeki bildirimin serisinden büyük\n"
    "                                değilse uyarır (o bildirimi almış kurulumlar reddeder)\n"
    "        --gecerlilik=GÜN        bildirim GÜN gün sonra (1-3650) geçerliliğini yitirir\n"
    "                                (kayıt 10); kurulum süresi dolmuş bildirimi reddeder\n"
    "        --sessiz                paketin yapılışının (adim=paket) ve doğrulanışının\n"
    "                                (adim=dogrulama) ilerlemesini yazmaz; ilerleme paket-yap'taki\n"
    "                                gibi yazılır\n"    "        --is=N                  paketi paket-yap'taki gibi N iş parçacığıyla yapar ve\n"
    "                                doğrular\n"
    "      Klasördeki bildirim bu anahtarla doğrulanmıyorsa, başka bir yayın klasörü tutuyorsa\n"
    "      ya da paket-SÜRÜM.tpk yayımlanan bildirimin paketiyse reddeder. Reddedilen ya da\n"
    "      başarısız bir çalışma klasörü olduğu gibi bırakır; yarıda kesilen bir çalışmadan\n"
    "      sonra klasör önceki sürümü bozulmadan sunar.\n"
    "\n"
    "  yenile --anahtar=OZEL.pem [--gecerlilik=GÜN] YAYIN_KLASÖRÜ\n"
    "      Klasörde yayımlanan bildirimi yeni bir seriyle ve --gecerlilik verildiyse yeni bir\n"
    "      geçerlilik süresiyle (verilmezse süresiz) yeniden imzalar; başlık değeri A ve öbür\n"
    "      kayıtlar olduğu gibi kalır, paket yerinde durur. Bildirim yayinla'daki gibi tek bir ad\n"
    "      değişikliğiyle yayına girer; indirmekte olan kurulumlar eski ya da yeni bildirimi\n"
    "      bütün alır. yenilendi=SÜRÜM, seri=N ve süre verildiyse gecerlilik=SANİYE yazar.\n"
    "\n"
    "  paket-yoneticisi --surum=SÜRÜM --kurulum=KURULUM.exe --indirme=URL --cikti=KLASÖR\n"
    "      Windows paket yöneticisinin bildirimlerini (sürüm, tr-TR dil ve kurucu dosyaları, şema\n"
    "      1.28.0) KLASÖR'e yazar: yayımcı Tekvar Yazılım, paket Talvor, kurulumun URL'si ve\n"
    "      SHA-256 özeti, sessiz anahtar /sessiz, makine kapsamı, yönetici hakkı, kaldırma\n"
    "      kaydının \"Talvor\" anahtarı ürün kodu olarak. URL https:// ile başlamalı.\n"
    "\n"
    "  --help\n"
    "      Bu yardımı gösterir.\n"
    "\n"
    "Çıkış kodları: 0 başarı, 1 işin başarısızlığı (G/Ç, şifreleme, doğrulama, reddedilen\n"
    "içerik), 2 geçersiz komut satırı.\n";

struct FlagRule {
    const char *name;
    bool required;
    bool repeatable;
    bool is_switch = false; // given as --name alone, never with a value
};

// One parsed argument: a flag by its index in the rules, or the operand (flag -1).
struct Argument {
    int flag;
    const char *value;
};

// Parses "--name=value" flags and "--name" switches (their value "") after the command word,
// keeping their order; `operands` names the operands the command takes, all required, operand i
// being flag -1 - i. Reports the first problem.
bool ParseArguments(int argc, char **argv, const FlagRule *rules, int rule_count,
                    const std::vector<const char *> &operands, std::vector<Argument> *arguments)
{
    std::vector<int> seen(rule_count, 0);
    size_t operand_count = 0;
    for (int i = 2; i < argc; i++) {
        const char *text = argv[i];
        if (strncmp(text, "--", 2) != 0) {
            if (operand_count == operands.size()) {
                PrintError("beklenmeyen bağımsız değişken: %s", text);
                return false;
            }
            arguments->push_back({-1 - (int)operand_count++, text});
            continue;
        }
        const char *equals = strchr(text, '=');
        size_t name_length = equals != nullptr ? (size_t)(equals - text - 2) : strlen(text + 2);
        int flag = 0;
        while (flag < rule_count &&
               (strlen(rules[flag].name) != name_length || strncmp(rules[flag].name, text + 2, name_length) != 0))
            flag++;
        if (flag == rule_count) {
            PrintError("bilinmeyen seçenek: %.*s", (int)(name_length + 2), text);
            return false;
        }
        if (rules[flag].is_switch && equals != nullptr) {
            PrintError("--%s değer almaz", rules[flag].name);
            return false;
        }
        if (!rules[flag].is_switch && (equals == nullptr || equals[1] == 0)) {
            PrintError("--%s bir değer ister: --%s=...", rules[flag].name, rules[flag].name);
            return false;
        }
        if (seen[flag]++ > 0 && !rules[flag].repeatable) {
            PrintError("--%s yalnız bir kez verilebilir", rules[flag].name);
            return false;
        }
        arguments->push_back({flag, equals != nullptr ? equals + 1 : ""});
    }
    for (int flag = 0; flag < rule_count; flag++) {
        if (rules[flag].required && seen[flag] == 0) {
            PrintError("--%s gerekli", rules[flag].name);
            return false;
        }
    }
    if (operand_count < operands.size()) {
        PrintError("%s gerekli", operands[operand_count]);
        return false;
    }
    return true;
}

// The value of a flag given at most once (or of an operand), or null.
const char *ArgumentValue(const std::vector<Argument> &arguments, int flag)
{
    for (const Argument &argument : arguments) {
        if (argument.flag == flag)
            return argument.value;
    }
    return nullptr;
}

bool ParseDecimal(const char *text, uint64_t limit, uint64_t *value)
{
    uint64_t number = 0;
    for (const char *p = text; *p != 0; p++) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned digit = (unsigned)(*p - '0');
        if (number > (limit - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    *value = number;
    return *text != 0;
}

// Sets `*value` from an optional numeric flag; false (reported) for a malformed number.
bool NumberFlag(const std::vector<Argument> &arguments, int flag, const char *name, uint64_t limit, uint64_t *value)
{
    const char *text = ArgumentValue(arguments, flag);
    if (text == nullptr || ParseDecimal(text, limit, value))
        return true;
    PrintError("--%s 0 ile %llu arasında bir ondalık sayı olmalı: %s", name, (unsigned long long)limit, text);
    return false;
}

// Sets `*days` from an optional --gecerlilik; false (reported) outside 1 to 3650 days.
bool ValidDaysFlag(const std::vector<Argument> &arguments, int flag, uint64_t *days)
{
    const char *text = ArgumentValue(arguments, flag);
    if (text == nullptr || (ParseDecimal(text, 3650, days) && *days != 0))
        return true;
    PrintError("--gecerlilik 1 ile 3650 arasında bir gün sayısı olmalı: %s", text);
    return false;
}

// Sets `*workers` from an optional --is, one per processor when it is not given; false
// (reported) outside 1 to 1024.
bool WorkersFlag(const std::vector<Argument> &arguments, int flag, unsigned *workers)
{
    const char *text = ArgumentValue(arguments, flag);
    uint64_t count = DefaultWorkerCount();
    if (text != nullptr && (!ParseDecimal(text, 1024, &count) || count == 0)) {
        PrintError("--is 1 ile 1024 arasında bir iş parçacığı sayısı olmalı: %s", text);
        return false;
    }
    *workers = (unsigned)count;
    return true;
}

struct PackageArgument {
    std::string name;
    std::string version;
    const char *path;
};

// "NAME:VERSION:PATH"; the path, which is last, may itself hold ':'.
bool SplitPackageArgument(const char *text, PackageArgument *package)
{
    const char *first = strchr(text, ':');
    const char *second = first != nullptr ? strchr(first + 1, ':') : nullptr;
    if (first == nullptr || second == nullptr || first == text || second == first + 1 || second[1] == 0)
        return false;
    package->name.assign(text, first);
    package->version.assign(first + 1, second);
    package->path = second + 1;
    return true;
}

int GenerateKeysCommand(int argc, char **argv)
{
    enum { Ozel, Acik };
    static const FlagRule rules[] = {{"ozel", true, false}, {"acik", true, false}};
    std::vector<Argument> arguments;
    if (!ParseArguments(argc, argv, rules, 2, {}, &arguments))
        return kExitUsage;
    const char *private_path = ArgumentValue(arguments, Ozel);
    const char *public_path = ArgumentValue(arguments, Acik);
    if (strcmp(private_path, public_path) == 0) {
        PrintError("--ozel ve --acik aynı dosyayı gösteriyor");
        return kExitUsage;
    }
    return GenerateKeyFiles(private_path, public_path) == StatusOk ? kExitOk : kExitFailure;
}

int WriteManifestCommand(int argc, char **argv)
{
    enum { Anahtar, Cikti, A, B, Bilesen, Paket };
    static const FlagRule rules[] = {{"anahtar", true, false}, {"cikti", true, false}, {"a", false, false},
                                     {"b", false, false},      {"bilesen", false, true}, {"paket", false, true}};
    std::vector<Argument> arguments;
    uint64_t a = 0;
    uint64_t b = 0;
    if (!ParseArguments(argc, argv, rules, 6, {}, &arguments) ||
        !NumberFlag(arguments, A, "a", UINT32_MAX, &a) || !NumberFlag(arguments, B, "b", UINT64_MAX, &b))
        return kExitUsage;
    PackageArgument package;
    for (const Argument &argument : arguments) {
        if (argument.flag == Paket && !SplitPackageArgument(argument.value, &package)) {
            PrintError("--paket AD:SÜRÜM:YOL biçiminde olmalı: %s", argument.value);
            return kExitUsage;
        }
    }

    std::vector<std::string> lines;
    Status status = StatusOk;
    for (size_t i = 0; i < arguments.size() && status == StatusOk; i++) {
        const Argument &argument = arguments[i];
        if (argument.flag == Bilesen) {
            lines.push_back(argument.value);
        } else if (argument.flag == Paket) {
            SplitPackageArgument(argument.value, &package);
            lines.emplace_back();
            status = PackageComponentLine(package.name, package.version, package.path, &lines.back());
        }
    }
    std::vector<ManifestRecord> records = {{kComponentListTag, ""}};
    if (status == StatusOk)
        status = JoinComponentList(lines, &records[0].value);
    EVP_PKEY *key = nullptr;
    if (status == StatusOk)
        status = LoadPrivateKey(ArgumentValue(arguments, Anahtar), &key);
    const char *output = ArgumentValue(arguments, Cikti);
    uint8_t public_key[64];
    if (status == StatusOk && ArgumentValue(arguments, B) == nullptr)
        status = GetPublicKeyBytes(key, public_key);
    if (status == StatusOk && ArgumentValue(arguments, B) == nullptr)
        status = NextSerial(time(nullptr), LiveManifestSerial(output, public_key), &b);
    if (status == StatusOk)
        status = WriteManifestFile(output, key, (uint32_t)a, b, records);
    EVP_PKEY_free(key);
    return status == StatusOk ? kExitOk : kExitFailure;
}

int ShowManifestCommand(int argc, char **argv)
{
    enum { Acik };
    static const FlagRule rules[] = {{"acik", true, false}};
    std::vector<Argument> arguments;
    if (!ParseArguments(argc, argv, rules, 1, {"bildirim dosyası"}, &arguments))
        return kExitUsage;
    uint8_t public_key[64];
    Status status = ReadPublicKeyFile(ArgumentValue(arguments, Acik), public_key);
    if (status == StatusOk)
        status = ShowManifestFile(ArgumentValue(arguments, -1), public_key);
    return status == StatusOk ? kExitOk : kExitFailure;
}

int BuildPackageCommand(int argc, char **argv)
{
    enum { Surum, Ad, Sessiz, Is };
    static const FlagRule rules[] = {
        {"surum", true, false}, {"ad", false, false}, {"sessiz", false, false, true}, {"is", false, false}};
    std::vector<Argument> arguments;
    unsigned workers = 0;
    if (!ParseArguments(argc, argv, rules, 4, {"klasör", "paket dosyası"}, &arguments) ||
        !WorkersFlag(arguments, Is, &workers))
        return kExitUsage;
    const char *folder = ArgumentValue(arguments, -1);
    const char *package = ArgumentValue(arguments, -2);
    const char *name = ArgumentValue(arguments, Ad);
    std::string component = name != nullptr ? name : "program";
    std::string version = ArgumentValue(arguments, Surum);
    // The line's rules are checked before the work; only the digest and the size come later.
    const char *fault = ComponentDraftFault(component, version, FileNamePart(package));
    if (fault != nullptr) {
        PrintError("bu paket için bileşen satırı yazılamaz: %s", fault);
        return kExitUsage;
    }
    std::string line;
    Status status =
        BuildPackageFile(folder, package, ChooseProgressMode(ArgumentValue(arguments, Sessiz) != nullptr), workers);
    if (status == StatusOk)
        status = PackageComponentLine(component, version, package, &line);
    if (status != StatusOk)
        return kExitFailure;
    printf("--bilesen=%s\n", line.c_str());
    return kExitOk;
}

int ShowPackageCommand(int argc, char **argv)
{
    std::vector<Argument> arguments;
    if (!ParseArguments(argc, argv, nullptr, 0, {"paket dosyası"}, &arguments))
        return kExitUsage;
    return ShowPackageFile(ArgumentValue(arguments, -1)) == StatusOk ? kExitOk : kExitFailure;
}

int ExtractPackageCommand(int argc, char **argv)
{
    std::vector<Argument> arguments;
    if (!ParseArguments(argc, argv, nullptr, 0, {"paket dosyası", "klasör"}, &arguments))
        return kExitUsage;
    return ExtractPackageFile(ArgumentValue(arguments, -1), ArgumentValue(arguments, -2)) == StatusOk ? kExitOk
                                                                                                     : kExitFailure;
}

int PublishCommand(int argc, char **argv)
{
    enum { Anahtar, Surum, Acik, Kurulum, Yayindaki, Sessiz, Seri, Gecerlilik, Is };
    static const FlagRule rules[] = {{"anahtar", true, false},    {"surum", true, false},
                                     {"acik", false, false},      {"kurulum", false, false},
                                     {"yayindaki", false, false}, {"sessiz", false, false, true},
                                     {"seri", false, false},      {"gecerlilik", false, false},
                                     {"is", false, false}};
    std::vector<Argument> arguments;
    uint64_t serial = 0;
    uint64_t days = 0;
    unsigned workers = 0;
    if (!ParseArguments(argc, argv, rules, 9, {"ürün klasörü", "yayın klasörü"}, &arguments) ||
        !NumberFlag(arguments, Seri, "seri", UINT64_MAX, &serial) || !ValidDaysFlag(arguments, Gecerlilik, &days) ||
        !WorkersFlag(arguments, Is, &workers))
        return kExitUsage;
    PublishRequest request = {ArgumentValue(arguments, -1),
                              ArgumentValue(arguments, -2),
                              ArgumentValue(arguments, Surum),
                              ArgumentValue(arguments, Anahtar),
                              ArgumentValue(arguments, Acik),
                              ArgumentValue(arguments, Kurulum),
                              ArgumentValue(arguments, Yayindaki),
                              nullptr,
                              ChooseProgressMode(ArgumentValue(arguments, Sessiz) != nullptr),
                              workers,
                              ArgumentValue(arguments, Seri) != nullptr,
                              serial,
                              days};
    for (const char *version : {request.version, request.replacing_version}) {
        const char *fault = version != nullptr ? ComponentDraftFault("program", version, "paket.tpk") : nullptr;
        if (fault != nullptr) {
            PrintError("%s: %s", version, fault);
            return kExitUsage;
        }
    }
    return PublishRelease(request) == StatusOk ? kExitOk : kExitFailure;
}

int RenewCommand(int argc, char **argv)
{
    enum { Anahtar, Gecerlilik };
    static const FlagRule rules[] = {{"anahtar", true, false}, {"gecerlilik", false, false}};
    std::vector<Argument> arguments;
    PublishRequest request = {};
    if (!ParseArguments(argc, argv, rules, 2, {"yayın klasörü"}, &arguments) ||
        !ValidDaysFlag(arguments, Gecerlilik, &request.valid_days))
        return kExitUsage;
    request.release_folder = ArgumentValue(arguments, -1);
    request.private_key_path = ArgumentValue(arguments, Anahtar);
    return RenewRelease(request) == StatusOk ? kExitOk : kExitFailure;
}

int PackageManagerCommand(int argc, char **argv)
{
    enum { Surum, Kurulum, Indirme, Cikti };
    static const FlagRule rules[] = {
        {"surum", true, false}, {"kurulum", true, false}, {"indirme", true, false}, {"cikti", true, false}};
    std::vector<Argument> arguments;
    if (!ParseArguments(argc, argv, rules, 4, {}, &arguments))
        return kExitUsage;
    const char *version = ArgumentValue(arguments, Surum);
    const char *url = ArgumentValue(arguments, Indirme);
    const char *fault = ComponentDraftFault("program", version, "paket.tpk");
    if (fault != nullptr) {
        PrintError("%s: %s", version, fault);
        return kExitUsage;
    }
    if (!IsInstallerUrl(url)) {
        PrintError("--indirme boşluksuz bir https:// adresi olmalı (en çok 2048 karakter): %s",
                   EscapeText(url, strlen(url)).c_str());
        return kExitUsage;
    }
    return WritePackageManagerManifests(ArgumentValue(arguments, Kurulum), version, url,
                                        ArgumentValue(arguments, Cikti)) == StatusOk
               ? kExitOk
               : kExitFailure;
}

} // namespace

int RunYayin(int argc, char **argv)
{
    static const struct {
        const char *name;
        int (*run)(int argc, char **argv);
    } commands[] = {
        {"anahtar-uret", GenerateKeysCommand},
        {"bildirim-yaz", WriteManifestCommand},
        {"bildirim-goster", ShowManifestCommand},
        {"paket-yap", BuildPackageCommand},
        {"paket-goster", ShowPackageCommand},
        {"paket-ac", ExtractPackageCommand},
        {"yayinla", PublishCommand},
        {"yenile", RenewCommand},
        {"paket-yoneticisi", PackageManagerCommand},
    };
    // Progress goes to stderr all through a run: a reader of it that goes away must not end a
    // publish halfway. A write then fails instead, and a failed stdout is reported below.
    signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        PrintError("komut eksik; kullanım için: talvor-yayin --help");
        return kExitUsage;
    }
    int result = -1;
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        fputs(kHelp, stdout);
        result = kExitOk;
    }
    for (const auto &command : commands) {
        if (strcmp(argv[1], command.name) == 0)
            result = command.run(argc, argv);
    }
    if (result < 0) {
        PrintError("bilinmeyen komut: %s; kullanım için: talvor-yayin --help", argv[1]);
        return kExitUsage;
    }
    // Output that never arrived (a full disk, a closed pipe) must not pass for success.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        PrintError("standart çıktıya yazılamıyor");
        return kExitFailure;
    }
    return result;
}
